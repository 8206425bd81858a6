#ifndef ZQWORKTHREAD_H
#define ZQWORKTHREAD_H

#include <QAtomicInt>
#include <QThread>

class ZQBusinessManager;

// A thread that drains one of the hub's blocking receive queues into the
// business manager until it is stopped.
class ZQWorkThread : public QThread
{
    Q_OBJECT
public:
    explicit ZQWorkThread(ZQBusinessManager *manager, QObject *parent = nullptr);

    // Ends the loop, releasing a get that is blocked on the empty queue; the
    // queue stays closed afterwards. Join with wait().
    void stop();

protected:
    void run() override;

    // Takes the next item (blocking) and hands it to the manager; false once
    // the queue is closed and empty.
    virtual bool dealNext(ZQBusinessManager *manager) = 0;
    virtual void closeQueue() = 0;

private:
    ZQBusinessManager *m_manager;
    QAtomicInt m_run{1};
};

#endif // ZQWORKTHREAD_H
