#ifndef ZQSENDMSGTHREAD_H
#define ZQSENDMSGTHREAD_H

#include "zqsendmsgqueue.h"

#include <QThread>

#include <atomic>
#include <vector>

class ZQServerDispatch;

// The hub's router: the only consumer of the routing queue. It routes what
// waits in the queue as one batch and hands each connection its share in
// one piece (written at once when the socket takes it, see
// ZQServerDispatch::postBytes), and copies every routed text to the monitors.
class ZQSendMsgThread : public QThread
{
    Q_OBJECT
public:
    explicit ZQSendMsgThread(QObject *parent = nullptr);

    void run() override;
    // Stops the router; the argument has no effect. Also wakes a router that
    // is waiting on an empty queue so it can see the flag.
    void stoprun(bool);

private:
    void routeBatch(const ZQSendMsgQueue::Batch &batch);
    void routeFrame(const ZQSendMsgQueue::Batch &batch, const char *payload, int size);
    void deliver(ZQServerDispatch *to, const char *message, int size);
    void copyToMonitors(const char *kind, const QByteArray &from, const QByteArray &to, int delivered,
                        const char *text, int size);
    void flush();

    std::atomic<bool> m_running{true};
    std::vector<ZQServerDispatch *> m_touched;   // connections with bytes in this batch
    std::vector<ZQSendMsgQueue::Receiver> m_receivers;
    // The subscribers of the source published last in this batch: a batch
    // is mostly one program's burst. Dropped at every subscription change
    // and at the end of the batch, when the tables may change.
    std::vector<ZQSendMsgQueue::Receiver> m_subscribers;
    QByteArray m_subscribersOf;
    bool m_subscribersKnown = false;
    int m_batchBytes = 0;
};

#endif // ZQSENDMSGTHREAD_H
