#ifndef ZQIPCTHREAD_H
#define ZQIPCTHREAD_H

#include <QAtomicInt>
#include <QThread>

class ZQBusinessManager;

// Drains the IPC receive queue into the business modules' message handling.
class ZQIpcThread : public QThread
{
    Q_OBJECT
public:
    ZQIpcThread(ZQBusinessManager *manager, QObject *parent = nullptr);

    // Ends the loop, releasing a get that is blocked on the empty queue; the
    // queue stays closed afterwards. Join with wait().
    void stop();

protected:
    void run() override;

private:
    ZQBusinessManager *m_manager;
    QAtomicInt m_run{1};
};

#endif // ZQIPCTHREAD_H
