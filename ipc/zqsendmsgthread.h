#ifndef ZQSENDMSGTHREAD_H
#define ZQSENDMSGTHREAD_H

#include <QThread>

#include <atomic>

// The hub's router: the only consumer of the routing queue and the only
// writer to client connections (besides the hello reply).
class ZQSendMsgThread : public QThread
{
    Q_OBJECT
public:
    explicit ZQSendMsgThread(QObject *parent = nullptr);

    void run() override;
    // Stops the router; the argument has no effect. Also wakes a router that
    // is waiting on an empty queue so it can see the flag.
    void stoprun(bool);

    // Routes one frame text (what run() does with every text it takes).
    static void routeText(const QString &text);

private:
    std::atomic<bool> m_running{true};
};

#endif // ZQSENDMSGTHREAD_H
