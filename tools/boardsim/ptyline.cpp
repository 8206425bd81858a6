#include "ptyline.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {
struct SpeedName
{
    speed_t speed;
    int baud;
};
const SpeedName Speeds[] = {
    {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200}, {B300, 300},
    {B600, 600}, {B1200, 1200}, {B1800, 1800}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600},
    {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
    {B460800, 460800}, {B921600, 921600},
};

int baudOf(speed_t speed)
{
    for (const SpeedName &s : Speeds)
        if (s.speed == speed)
            return s.baud;
    return -1;
}

speed_t speedOf(int baud)
{
    for (const SpeedName &s : Speeds)
        if (s.baud == baud)
            return s.speed;
    return B115200;
}

QString errnoText(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

void makeRaw(int fd, speed_t speed, bool setSpeed)
{
    termios t;
    if (tcgetattr(fd, &t) != 0)
        return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (setSpeed)
        cfsetspeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
}
} // namespace

PtyLine::PtyLine(QObject *parent)
    : QObject(parent)
{
}

PtyLine::~PtyLine()
{
    delete m_notifier;
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
    if (m_fd >= 0)
        ::close(m_fd);
}

bool PtyLine::openPty(QString *error)
{
    m_fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0 || grantpt(m_fd) != 0 || unlockpt(m_fd) != 0) {
        *error = errnoText("posix_openpt");
        return false;
    }
    char name[128];
    if (ptsname_r(m_fd, name, sizeof name) != 0) {
        *error = errnoText("ptsname_r");
        return false;
    }
    m_path = QString::fromLocal8Bit(name);
    m_slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_slaveFd < 0) {
        *error = errnoText("open slave");
        return false;
    }
    // Raw from the start: nothing echoed or translated before the other side
    // configures the line.
    makeRaw(m_slaveFd, B115200, false);
    m_isPty = true;
    watch();
    return true;
}

bool PtyLine::openDevice(const QString &path, int baud, QString *error)
{
    m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0) {
        *error = errnoText("open");
        return false;
    }
    makeRaw(m_fd, speedOf(baud), true);
    m_path = path;
    watch();
    return true;
}

void PtyLine::watch()
{
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyLine::onReadable);
}

void PtyLine::onReadable()
{
    QByteArray all;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n > 0) {
            all.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            // The line is gone; stop watching instead of spinning on it.
            m_notifier->setEnabled(false);
        }
        break;
    }
    if (!all.isEmpty())
        emit received(all);
}

PtyLine::Settings PtyLine::settings() const
{
    Settings s;
    termios t;
    // On the master of a pair this reports the slave's settings, that is,
    // those the other program chose.
    if (m_fd < 0 || tcgetattr(m_fd, &t) != 0)
        return s;
    s.baud = baudOf(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
    case CS5: s.dataBits = 5; break;
    case CS6: s.dataBits = 6; break;
    case CS7: s.dataBits = 7; break;
    default: s.dataBits = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        s.parity = QStringLiteral("none");
    else if (t.c_cflag & CMSPAR)
        s.parity = (t.c_cflag & PARODD) ? QStringLiteral("mark") : QStringLiteral("space");
    else
        s.parity = (t.c_cflag & PARODD) ? QStringLiteral("odd") : QStringLiteral("even");
    s.stopBits = (t.c_cflag & CSTOPB) ? QStringLiteral("2") : QStringLiteral("1");
    if (t.c_cflag & CRTSCTS)
        s.flow = QStringLiteral("hardware");
    else if (t.c_iflag & (IXON | IXOFF))
        s.flow = QStringLiteral("software");
    else
        s.flow = QStringLiteral("none");
    return s;
}

QString PtyLine::describe(const Settings &s)
{
    return QStringLiteral("baud=%1 data=%2 parity=%3 stop=%4 flow=%5")
        .arg(s.baud).arg(s.dataBits).arg(s.parity, s.stopBits, s.flow);
}

qint64 PtyLine::write(const QByteArray &bytes)
{
    qint64 done = 0;
    int waits = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && ++waits < 2000) {
            usleep(1000); // the other side is not reading yet; give it two seconds
        } else {
            break;
        }
    }
    return done;
}
