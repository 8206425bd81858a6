// The physical floor of the hub's job, for comparison: one thread, epoll, read
// a frame, write it to its addressee(s). Speaks the bus's wire format (hello,
// subscribe, directed, broadcast, publish) and nothing else; no limits, no
// checks, no slow-reader care.

#include "benchcommon.h"

#include <cerrno>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace bench {

namespace {
struct Conn {
    int fd;
    std::string in, out, id;
    bool named = false;
};

void writeAll(Conn *c)
{
    size_t done = 0;
    if (c->fd < 0)
        c->out.clear();
    while (done < c->out.size()) {
        const ssize_t n = ::send(c->fd, c->out.data() + done, c->out.size() - done, MSG_NOSIGNAL);
        if (n > 0)
            done += size_t(n);
        else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{c->fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else
            break;
    }
    c->out.clear();
}
} // namespace

int runRelay(int port)
{
    const int lfd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const int one = 1;
    ::setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(quint16(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(lfd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0 || ::listen(lfd, 512) < 0)
        return 1;
    const int ep = ::epoll_create1(0);
    epoll_event ev{EPOLLIN, {nullptr}};
    ::epoll_ctl(ep, EPOLL_CTL_ADD, lfd, &ev);
    std::map<std::string, Conn *> byId;
    std::map<std::string, std::vector<std::string>> subs;
    std::vector<Conn *> dirty;
    const auto to = [&](Conn *c, const char *m, size_t n) {
        if (!c)
            return;
        if (c->out.empty())
            dirty.push_back(c);
        c->out.append(m, n).push_back('\0');
    };
    const std::string marker = "Z&&Q";
    std::vector<char> buf(65536);
    epoll_event events[256];
    for (;;) {
        const int n = ::epoll_wait(ep, events, 256, -1);
        for (int i = 0; i < n; ++i) {
            auto *c = static_cast<Conn *>(events[i].data.ptr);
            if (!c) {
                int fd;
                while ((fd = ::accept4(lfd, nullptr, nullptr, SOCK_NONBLOCK)) >= 0) {
                    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    epoll_event cev{EPOLLIN, {new Conn{fd, {}, {}, {}, false}}};
                    ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &cev);
                }
                continue;
            }
            // One read per wake-up, as the hub does: a busy sender cannot
            // keep the loop reading while the others wait.
            const ssize_t got = ::recv(c->fd, buf.data(), buf.size(), 0);
            if (got > 0)
                c->in.append(buf.data(), size_t(got));
            size_t at = 0;
            while (c->in.size() - at >= 4) {
                qint32 len;
                std::memcpy(&len, c->in.data() + at, 4);
                if (c->in.size() - at - 4 < size_t(len))
                    break;
                const std::string f = c->in.substr(at + 4, size_t(len));
                at += 4 + size_t(len);
                if (!c->named) {
                    c->named = true;
                    c->id = f;
                    byId[f] = c;
                    to(c, "succeful", 8);
                    continue;
                }
                const size_t m1 = f.find(marker);
                if (m1 == std::string::npos)
                    continue;
                const std::string head = f.substr(0, m1);
                const size_t m2 = f.find(marker, m1 + 4);
                const std::string first = m2 == std::string::npos ? "" : f.substr(m1 + 4, m2 - m1 - 4);
                const char *rest = m2 == std::string::npos ? nullptr : f.data() + m2 + 4;
                const size_t restSize = rest ? f.size() - m2 - 4 : 0;
                if (head == "ZQ&&REG")
                    subs[first].emplace_back(rest, restSize);
                else if (head == "ZQ&&GIV")
                    to(byId.count(first) ? byId[first] : nullptr, rest, restSize);
                else if (head == "ZQ&&ALL") {
                    for (auto &e : byId)
                        if (e.second != c)
                            to(e.second, rest, restSize);
                } else if (head != "ZQ&&DEL") {
                    for (const std::string &s : subs[head])
                        to(byId.count(s) ? byId[s] : nullptr, f.data() + m1 + 4, f.size() - m1 - 4);
                }
            }
            c->in.erase(0, at);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                if (c->named && byId[c->id] == c)
                    byId.erase(c->id);
                ::close(c->fd);   // the Conn is kept: a write of this round may still name it
                c->fd = -1;
            }
        }
        for (Conn *c : dirty)
            writeAll(c);
        dirty.clear();
    }
}

} // namespace bench
