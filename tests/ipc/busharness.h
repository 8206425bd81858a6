// Helpers shared by the bus tests: a bus peer on a plain socket (so tests see
// and control every byte), and a listening socket that plays the hub.
#ifndef BUSHARNESS_H
#define BUSHARNESS_H

#include "zqwire.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <arpa/inet.h>
#include <cerrno>
#include <grp.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bustest {

// Runs a clean-up when a test returns early (a failed check), so helper
// threads are always released and joined.
template <typename F>
class ScopeExit
{
public:
    explicit ScopeExit(F f) : m_f(std::move(f)) {}
    ~ScopeExit() { m_f(); }
    ScopeExit(const ScopeExit &) = delete;
    ScopeExit &operator=(const ScopeExit &) = delete;

private:
    F m_f;
};

inline QString uniqueId(const char *stem)
{
    return QString("ID_TST_%1_%2").arg(stem, QUuid::createUuid().toString(QUuid::Id128).left(10));
}

inline int connectTo(int port, int rcvbuf = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (rcvbuf > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(quint16(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

inline bool writeAll(int fd, const QByteArray &bytes)
{
    int done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += int(n);
    }
    return true;
}

inline QByteArray frame(const QString &text)
{
    QByteArray out;
    ZQWire::appendFrame(out, text.toUtf8());
    return out;
}

// What a connection made by another user saw of the hub.
enum class AsUser { Greeted, Closed, Failed };

// Connects to the hub from a forked child that runs as `uid`/`gid` (the
// tests run as root), writes `bytes` and reads until the hub greets it or
// closes the connection. Only system calls in the child: the test process
// has threads.
inline AsUser connectAsUser(uid_t uid, gid_t gid, int port, const QByteArray &bytes)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return AsUser::Failed;
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(3);
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(quint16(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
            ::_exit(4);
        (void)!::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
        char buf[16];
        size_t got = 0;
        while (got < 8) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 5000) <= 0)
                ::_exit(5);
            const ssize_t n = ::recv(fd, buf + got, sizeof buf - got, 0);
            if (n <= 0)
                ::_exit(0);   // closed (or reset) by the hub
            got += size_t(n);
        }
        ::_exit(::memcmp(buf, "succeful", 8) == 0 ? 1 : 6);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return AsUser::Failed;
    switch (WEXITSTATUS(status)) {
    case 0: return AsUser::Closed;
    case 1: return AsUser::Greeted;
    default: return AsUser::Failed;
    }
}

// A bus client on a plain socket.
class RawPeer
{
public:
    RawPeer() = default;
    ~RawPeer() { close(); }
    RawPeer(const RawPeer &) = delete;
    RawPeer &operator=(const RawPeer &) = delete;

    // Connects, says hello and waits for the hub's "succeful".
    bool join(int port, const QString &id, int rcvbuf = 0)
    {
        m_id = id;
        m_fd = connectTo(port, rcvbuf);
        if (m_fd < 0 || !writeAll(m_fd, frame(id)))
            return false;
        QByteArray first;
        return next(first, 3000) && first == ZQWire::kHelloReply;
    }
    bool sendText(const QString &text) { return writeAll(m_fd, frame(text)); }
    bool sendBytes(const QByteArray &bytes) { return writeAll(m_fd, bytes); }
    bool subscribe(const QString &source)
    {
        return sendText(QString("ZQ&&REGZ&&Q%1Z&&Q%2").arg(source, m_id));
    }
    bool unsubscribe(const QString &source)
    {
        return sendText(QString("ZQ&&DELZ&&Q%1Z&&Q%2").arg(source, m_id));
    }
    bool publish(const QString &message) { return sendText(m_id + "Z&&Q" + message); }
    bool direct(const QString &to, const QString &message) { return sendText("ZQ&&GIVZ&&Q" + to + "Z&&Q" + message); }
    bool broadcast(const QString &message) { return sendText("ZQ&&ALLZ&&Q" + m_id + "Z&&Q" + message); }

    // Sends a token to itself and reads until it comes back: every frame this
    // peer sent before has then been routed, and everything routed to this
    // peer before the token has arrived. Other messages read meanwhile are
    // kept in the inbox. (Texts for other peers may be written a moment
    // later: the router writes a batch connection by connection.)
    bool sync(int timeoutMs = 5000)
    {
        const QByteArray token = "sync-" + QUuid::createUuid().toByteArray(QUuid::Id128);
        if (!direct(m_id, QString::fromLatin1(token)))
            return false;
        QElapsedTimer clock;
        clock.start();
        QByteArray m;
        while (next(m, int(qMax<qint64>(1, timeoutMs - clock.elapsed())))) {
            if (m == token)
                return true;
            m_inbox.append(QString::fromUtf8(m));
        }
        return false;
    }
    // Collects what has arrived by now (after another peer's sync).
    QStringList inbox()
    {
        QByteArray m;
        while (next(m, 0))
            m_inbox.append(QString::fromUtf8(m));
        return m_inbox;
    }
    void clearInbox() { inbox(); m_inbox.clear(); }

    // Next NUL-terminated message, waiting at most timeoutMs.
    bool next(QByteArray &message, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            if (!m_ready.isEmpty()) {
                message = m_ready.takeFirst();
                return true;
            }
            const qint64 left = timeoutMs - clock.elapsed();
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, int(qMax<qint64>(0, left))) <= 0)
                return false;
            char buf[65536];
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0) {
                m_closed = true;
                return false;
            }
            ZQWire::takeReplies(m_carry, buf, int(n), m_ready);
        }
    }
    // True once the hub has closed this connection (within timeoutMs).
    bool waitClosed(int timeoutMs)
    {
        QByteArray m;
        QElapsedTimer clock;
        clock.start();
        while (!m_closed && clock.elapsed() < timeoutMs)
            next(m, int(timeoutMs - clock.elapsed()));
        return m_closed;
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int fd() const { return m_fd; }
    QString id() const { return m_id; }

private:
    int m_fd = -1;
    QString m_id;
    QByteArray m_carry;
    QList<QByteArray> m_ready;
    QStringList m_inbox;
    bool m_closed = false;
};

// A listening socket on a free port that stands in for the hub.
class FakeHub
{
public:
    FakeHub()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        ::listen(m_listen, 8);
        socklen_t len = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &len);
        m_port = ntohs(addr.sin_port);
    }
    ~FakeHub()
    {
        closePeer();
        ::close(m_listen);
    }
    int port() const { return m_port; }
    bool accept(int timeoutMs = 3000)
    {
        pollfd pfd{m_listen, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0)
            return false;
        m_peer = ::accept(m_listen, nullptr, nullptr);
        return m_peer >= 0;
    }
    // Reads until `count` complete frames have arrived (or the timeout).
    QList<QByteArray> frames(int count, int timeoutMs = 3000, QByteArray *raw = nullptr)
    {
        QElapsedTimer clock;
        clock.start();
        while (m_frames.size() < count && clock.elapsed() < timeoutMs) {
            pollfd pfd{m_peer, POLLIN, 0};
            if (::poll(&pfd, 1, int(timeoutMs - clock.elapsed())) <= 0)
                break;
            char buf[65536];
            const ssize_t n = ::recv(m_peer, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            m_raw.append(buf, int(n));
            if (ZQWire::takeFrames(m_carry, buf, int(n), m_frames) != ZQWire::ParseStatus::Ok)
                break;
        }
        if (raw)
            *raw = m_raw;
        QList<QByteArray> out = m_frames.mid(0, count);
        m_frames = m_frames.mid(out.size());
        return out;
    }
    bool write(const QByteArray &bytes) { return writeAll(m_peer, bytes); }
    void closePeer()
    {
        if (m_peer >= 0)
            ::close(m_peer);
        m_peer = -1;
    }
    void clearRaw() { m_raw.clear(); }

private:
    int m_listen = -1;
    int m_peer = -1;
    int m_port = 0;
    QByteArray m_raw;
    QByteArray m_carry;
    QList<QByteArray> m_frames;
};

} // namespace bustest

#endif // BUSHARNESS_H
