#ifndef ZQHUBWRITER_H
#define ZQHUBWRITER_H

#include <QSet>

#include <atomic>
#include <mutex>
#include <thread>

class ZQServerDispatch;

// Writes, for every connection of the hub, what the router could not hand to
// the socket at once (the client reads slowly, or a burst filled its socket
// buffer). One thread waits on all such sockets with epoll, so a slow reader
// costs nobody else time, and gives up on a client that takes no bytes for
// the write timeout.
class ZQHubWriter
{
public:
    ZQHubWriter();
    ~ZQHubWriter();
    ZQHubWriter(const ZQHubWriter &) = delete;
    ZQHubWriter &operator=(const ZQHubWriter &) = delete;

    bool start();
    void stop();

    // The connection has bytes waiting: write them once its socket takes more.
    void arm(ZQServerDispatch *d);
    // The connection is about to be freed: once this returns the writer
    // neither uses it nor will again.
    void forget(ZQServerDispatch *d);

private:
    void run();

    int m_epoll = -1;
    int m_wake = -1;   // eventfd that ends the wait on stop()
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::mutex m_mutex;                 // held while a connection is written
    QSet<ZQServerDispatch *> m_armed;   // connections with bytes waiting
};

#endif // ZQHUBWRITER_H
