#ifndef ZQSENDMSGTHREAD_H
#define ZQSENDMSGTHREAD_H

#include <QByteArray>
#include <QThread>

#include <atomic>
#include <utility>
#include <vector>

class ZQServerDispatch;

// The hub's router: the only consumer of the routing queue; it hands each
// connection its share, which the connection writes on a thread of its own.
class ZQSendMsgThread : public QThread
{
    Q_OBJECT
public:
    explicit ZQSendMsgThread(QObject *parent = nullptr);

    void run() override;
    // Stops the router; the argument has no effect. Also wakes a router that
    // is waiting on an empty queue so it can see the flag.
    void stoprun(bool);

    // Bytes routed to each connection and not yet written, connections in the
    // order they were first routed to.
    using Outbox = std::vector<std::pair<ZQServerDispatch *, QByteArray>>;
    // Routes one frame text: records a subscription change, or appends the
    // message (with its NUL) to the outbox of every connection it goes to.
    // Must be called with the queue's route lock held, until the outbox is
    // flushed.
    static void routeText(const QString &text, Outbox &outbox);
    static void flush(Outbox &outbox);

private:
    std::atomic<bool> m_running{true};
};

#endif // ZQSENDMSGTHREAD_H
