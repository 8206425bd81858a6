#include "zqtermsignalwatcher.h"

#include "zqipclogging.h"

#include <QDebug>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalFds[2] = {-1, -1}; // [0] written by the handler, [1] read in the loop
std::atomic<bool> stopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set in a signal handler");
} // namespace

ZQTermSignalWatcher::ZQTermSignalWatcher(QObject *parent)
    : ZQTermSignalWatcher({SIGTERM, SIGINT}, parent)
{
}

ZQTermSignalWatcher::ZQTermSignalWatcher(const QList<int> &signalNumbers, QObject *parent)
    : QObject(parent)
    , m_signals(signalNumbers)
{
    start();
}

void ZQTermSignalWatcher::start()
{
    if (signalFds[0] >= 0) {
        qCWarning(lcZqIpc) << "ZQTermSignalWatcher: only one watcher per process";
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalFds) != 0) {
        qCWarning(lcZqIpc) << "ZQTermSignalWatcher: socketpair failed" << errno;
        signalFds[0] = signalFds[1] = -1;
        return;
    }
    // A full pipe must never block the handler; one pending byte is enough.
    ::fcntl(signalFds[0], F_SETFL, ::fcntl(signalFds[0], F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(signalFds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ZQTermSignalWatcher::slotReadSignal);

    struct sigaction action = {};
    action.sa_handler = &ZQTermSignalWatcher::handleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : qAsConst(m_signals))
        ::sigaction(signo, &action, nullptr);
}

ZQTermSignalWatcher::~ZQTermSignalWatcher()
{
    if (!m_notifier)
        return;
    restoreDefaults();
    delete m_notifier;
    m_notifier = nullptr;
    ::close(signalFds[0]);
    ::close(signalFds[1]);
    signalFds[0] = signalFds[1] = -1;
}

bool ZQTermSignalWatcher::isActive() const
{
    return m_notifier != nullptr;
}

void ZQTermSignalWatcher::restoreDefaults()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signo : qAsConst(m_signals))
        ::sigaction(signo, &action, nullptr);
}

bool ZQTermSignalWatcher::stopRequested()
{
    return stopFlag.load();
}

void ZQTermSignalWatcher::handleSignal(int signo)
{
    stopFlag.store(true);
    const int saved = errno;
    const char byte = char(signo);
    ssize_t ignored = ::write(signalFds[0], &byte, 1);
    (void)ignored;
    errno = saved;
}

void ZQTermSignalWatcher::slotReadSignal()
{
    char byte = 0;
    if (::read(signalFds[1], &byte, 1) != 1)
        return;
    qCDebug(lcZqIpc) << "stop signal" << int(byte);
    // The orderly stop takes a while; a second signal ends the process at once.
    restoreDefaults();
    emit sigTerminate(int(byte));
}
