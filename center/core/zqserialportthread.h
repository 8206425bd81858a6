#ifndef ZQSERIALPORTTHREAD_H
#define ZQSERIALPORTTHREAD_H

#include <QAtomicInt>
#include <QThread>

class ZQBusinessManager;

// Drains the serial receive queue into the business modules' frame handling.
class ZQSerialPortThread : public QThread
{
    Q_OBJECT
public:
    ZQSerialPortThread(ZQBusinessManager *manager, QObject *parent = nullptr);

    // Ends the loop, releasing a get that is blocked on the empty queue; the
    // queue stays closed afterwards. Join with wait().
    void stop();

protected:
    void run() override;

private:
    ZQBusinessManager *m_manager;
    QAtomicInt m_run{1};
};

#endif // ZQSERIALPORTTHREAD_H
