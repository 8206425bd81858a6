#include "zqhubwriter.h"

#include "zqipclogging.h"
#include "zqserverdispatch.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
// How often stalled clients are looked for while some have bytes waiting.
constexpr int kScanMs = 100;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}
} // namespace

ZQHubWriter::ZQHubWriter() = default;

ZQHubWriter::~ZQHubWriter()
{
    stop();
}

bool ZQHubWriter::start()
{
    if (m_running.load())
        return true;
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_epoll < 0 || m_wake < 0) {
        qCWarning(lcZqIpc) << "bus hub: cannot set up its writer:" << std::strerror(errno);
        stop();
        return false;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;   // the wake-up
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev);
    m_running.store(true);
    m_thread = std::thread([this] { run(); });
    return true;
}

void ZQHubWriter::stop()
{
    if (m_thread.joinable()) {
        m_running.store(false);
        const uint64_t one = 1;
        (void)!::write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    m_running.store(false);
    if (m_wake >= 0)
        ::close(m_wake);
    if (m_epoll >= 0)
        ::close(m_epoll);
    m_wake = m_epoll = -1;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_armed.clear();
}

void ZQHubWriter::arm(ZQServerDispatch *d)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_epoll < 0)
        return;
    const bool first = m_armed.isEmpty();
    m_armed.insert(d);
    epoll_event ev{};
    ev.events = EPOLLOUT | EPOLLONESHOT;
    ev.data.ptr = d;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_MOD, d->socketDescriptor(), &ev) < 0 && errno == ENOENT)
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, d->socketDescriptor(), &ev);
    if (first) {
        // The writer may sleep without a timeout; stalls must be looked for now.
        const uint64_t one = 1;
        (void)!::write(m_wake, &one, sizeof one);
    }
}

void ZQHubWriter::forget(ZQServerDispatch *d)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_armed.remove(d);
    if (m_epoll >= 0)
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, d->socketDescriptor(), nullptr);
}

void ZQHubWriter::run()
{
    epoll_event events[64];
    while (m_running.load()) {
        int timeout = -1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_armed.isEmpty())
                timeout = kScanMs;
        }
        const int n = ::epoll_wait(m_epoll, events, 64, timeout);
        if (n < 0 && errno != EINTR)
            break;
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int i = 0; i < n; ++i) {
            auto *d = static_cast<ZQServerDispatch *>(events[i].data.ptr);
            if (!d) {
                uint64_t count;
                (void)!::read(m_wake, &count, sizeof count);
                continue;
            }
            if (!m_armed.contains(d))
                continue;   // forgotten meanwhile
            if (d->writePending()) {
                m_armed.remove(d);
                continue;
            }
            epoll_event ev{};
            ev.events = EPOLLOUT | EPOLLONESHOT;
            ev.data.ptr = d;
            ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, d->socketDescriptor(), &ev);
        }
        if (m_armed.isEmpty())
            continue;
        const qint64 now = nowMs();
        for (auto it = m_armed.begin(); it != m_armed.end();) {
            if ((*it)->dropIfStalled(now))
                it = m_armed.erase(it);
            else
                ++it;
        }
    }
}
