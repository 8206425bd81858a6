#include "zqpeerowner.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// inet_diag reports sockets in TIME_WAIT (and orphans the kernel turned into
// such) with this timer and without an owner.
constexpr unsigned char kTimeWaitTimer = 3;
constexpr int kReplyTimeoutMs = 1000;
}

ZQPeerOwner::ZQPeerOwner() = default;

ZQPeerOwner::~ZQPeerOwner()
{
    if (m_netlink >= 0)
        ::close(m_netlink);
}

bool ZQPeerOwner::open()
{
    if (m_netlink >= 0)
        return true;
    m_netlink = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (m_netlink < 0) {
        m_error = errno;
        return false;
    }
    return true;
}

ZQPeerOwner::Result ZQPeerOwner::lookup(int fd, uid_t *uid, bool *loopback)
{
    sockaddr_in peer{}, self{};
    socklen_t len = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &len) != 0 || peer.sin_family != AF_INET) {
        m_error = errno;
        return Result::Failed;
    }
    len = sizeof self;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&self), &len) != 0) {
        m_error = errno;
        return Result::Failed;
    }
    *loopback = (ntohl(peer.sin_addr.s_addr) >> 24) == 127;
    if (!open())
        return Result::Failed;

    // The peer's socket: its source is the peer's address, its destination ours.
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } query{};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST;
    query.header.nlmsg_seq = ++m_seq;
    query.request.sdiag_family = AF_INET;
    query.request.sdiag_protocol = IPPROTO_TCP;
    query.request.idiag_states = ~0u;
    query.request.id.idiag_sport = peer.sin_port;
    query.request.id.idiag_dport = self.sin_port;
    query.request.id.idiag_src[0] = peer.sin_addr.s_addr;
    query.request.id.idiag_dst[0] = self.sin_addr.s_addr;
    query.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    query.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(m_netlink, &query, sizeof query, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0) {
        m_error = errno;
        return Result::Failed;
    }

    alignas(nlmsghdr) char buffer[8192];
    for (;;) {
        pollfd pfd{m_netlink, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, kReplyTimeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            m_error = ready == 0 ? ETIMEDOUT : errno;
            return Result::Failed;
        }
        const ssize_t n = ::recv(m_netlink, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            m_error = errno;
            return Result::Failed;
        }
        int left = int(n);
        for (auto *h = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq != m_seq)
                continue;   // the answer to an earlier query that timed out
            if (h->nlmsg_type == NLMSG_ERROR) {
                const auto *e = static_cast<const nlmsgerr *>(NLMSG_DATA(h));
                if (e->error == -ENOENT)
                    return Result::NotLocal;
                m_error = -e->error;
                return Result::Failed;
            }
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY || h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                continue;
            const auto *msg = static_cast<const inet_diag_msg *>(NLMSG_DATA(h));
            if (msg->idiag_timer == kTimeWaitTimer)
                return Result::Closed;
            *uid = msg->idiag_uid;
            return Result::Owner;
        }
    }
}
