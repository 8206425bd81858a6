#include "ptypair.h"

#include "zqframescan.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    char name[128];
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0
        || ptsname_r(m_master, name, sizeof name) != 0) {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t;
    if (m_slave >= 0 && tcgetattr(m_slave, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
    }
    m_thread = std::thread([this]() { readLoop(); });
}

PtyPair::~PtyPair()
{
    hangUp();
    if (m_slave >= 0)
        ::close(m_slave);
}

void PtyPair::hangUp()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PtyPair::writeMaster(const QByteArray &bytes)
{
    // The port under test may be read by this very thread: let its event
    // loop run while the pseudo-terminal's buffer is full.
    qint64 done = 0;
    QElapsedTimer waited;
    waited.start();
    while (done < bytes.size() && waited.elapsed() < 10000) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else {
            QCoreApplication::processEvents();
            usleep(1000);
        }
    }
}

void PtyPair::readLoop()
{
    QElapsedTimer clock;
    clock.start();
    char buf[4096];
    while (!m_stop) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            continue;
        const qint64 now = clock.elapsed();
        QMutexLocker lock(&m_mutex);
        m_stream.append(buf, int(n));
        for (;;) {
            QByteArray frame;
            if (!ZQFrameScan::scan(m_stream, frame).found)
                break;
            m_frames.append({now, frame});
        }
    }
}

QList<PtyPair::Arrival> PtyPair::frames() const
{
    QMutexLocker lock(&m_mutex);
    return m_frames;
}

int PtyPair::frameCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_frames.size();
}

int PtyPair::pendingBytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_stream.size();
}
