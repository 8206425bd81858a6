#ifndef ZQPEEROWNER_H
#define ZQPEEROWNER_H

#include <sys/types.h>

// Tells which user owns the other end of an accepted TCP connection when
// that end is a socket of this machine. Asks the kernel (sock_diag netlink,
// inet_diag) for exactly the peer's socket by its address and port: one
// request per connection, no table to read, and the answer also tells a
// socket its owner has already closed. Not thread-safe: one per accept loop.
class ZQPeerOwner
{
public:
    enum class Result {
        Owner,     // a live socket of this machine; *uid is its owner
        Closed,    // the peer socket has been closed: its owner cannot be told
        NotLocal,  // no such socket here: the peer is on another host (or gone)
        Failed,    // the kernel could not be asked (see lastError())
    };

    ZQPeerOwner();
    ~ZQPeerOwner();
    ZQPeerOwner(const ZQPeerOwner &) = delete;
    ZQPeerOwner &operator=(const ZQPeerOwner &) = delete;

    // Opens the netlink socket (lookup() does it when needed).
    bool open();

    // `fd` is a connected IPv4 TCP socket; `loopback` is set when the peer's
    // address is 127.0.0.0/8.
    Result lookup(int fd, uid_t *uid, bool *loopback);
    int lastError() const { return m_error; }

private:
    int m_netlink = -1;
    unsigned m_seq = 0;
    int m_error = 0;
};

#endif // ZQPEEROWNER_H
