#include "zqserialcapture.h"

#include "serialhublogging.h"
#include "zqframescan.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kHeader[] =
    "# vela serial capture, started %1\n"
    "# seconds since the start, wall clock, who sent the frame (PC or BOARD), its bytes\n";

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString secondsText(qint64 ms)
{
    return QStringLiteral("+%1.%2").arg(ms / 1000).arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

qint64 msOf(const QString &seconds, const QString &fraction)
{
    return seconds.toLongLong() * 1000 + (fraction.isEmpty() ? 0 : (fraction + QStringLiteral("00")).left(3).toInt());
}

} // namespace

ZQSerialCapture::~ZQSerialCapture()
{
    close();
}

QString ZQSerialCapture::directionWord(Direction direction)
{
    return direction == ToBoard ? QStringLiteral("PC") : QStringLiteral("BOARD");
}

bool ZQSerialCapture::open(const QString &path, qint64 maxBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // The file already being written (the settings and the option naming the
    // same one) is kept: opening it afresh would move the earlier run's
    // capture out of ".1" for a file holding only a header.
    if (m_fd >= 0 && path == m_path) {
        m_maxBytes = qMax<qint64>(maxBytes, 4096);
        return true;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_path = path;
    m_error.clear();
    if (path.isEmpty())
        return true;
    // A line must fit, or every frame would start a new file.
    m_maxBytes = qMax<qint64>(maxBytes, 4096);
    m_clock.start();
    if (!openFresh(&m_error)) {
        qCWarning(lcSerial).noquote() << "serial capture not written:" << m_error;
        return false;
    }
    qCInfo(lcSerial).noquote() << "serial capture into" << path;
    return true;
}

// Moves an earlier file aside and makes a new one. O_EXCL and O_NOFOLLOW: in
// a folder others can write to, a file or link planted under this name is
// refused rather than written through.
bool ZQSerialCapture::openFresh(QString *error)
{
    const QByteArray file = QFile::encodeName(m_path);
    const QByteArray older = file + ".1";
    if (::rename(file.constData(), older.constData()) != 0 && errno != ENOENT)
        ::unlink(file.constData());
    m_fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_APPEND, 0600);
    if (m_fd < 0) {
        *error = m_path + QStringLiteral(": ") + errnoText();
        return false;
    }
    m_size = 0;
    const QString header = QString::fromLatin1(kHeader).arg(
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
    const QByteArray bytes = header.toUtf8();
    if (::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size())
        m_size = bytes.size();
    return true;
}

void ZQSerialCapture::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool ZQSerialCapture::isOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fd >= 0;
}

QString ZQSerialCapture::path() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_path;
}

QString ZQSerialCapture::errorString() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

QString ZQSerialCapture::formatLine(qint64 ms, const QString &wallClock, Direction direction,
                                    const QByteArray &bytes)
{
    return QStringLiteral("%1 %2 %3 %4")
        .arg(secondsText(ms), wallClock, directionWord(direction), ZQFrameScan::toHex(bytes, ' '));
}

void ZQSerialCapture::frame(Direction direction, const QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd < 0)
        return;
    writeLine(formatLine(m_clock.elapsed(), QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")),
                         direction, bytes));
}

void ZQSerialCapture::remark(const QString &text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd < 0)
        return;
    writeLine(QStringLiteral("# %1 %2").arg(secondsText(m_clock.elapsed()), text));
}

// Under the mutex. Unbuffered: a centre that is killed leaves every line it
// wrote.
void ZQSerialCapture::writeLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    if (m_size + bytes.size() > m_maxBytes) {
        ::close(m_fd);
        m_fd = -1;
        QString error;
        if (!openFresh(&error)) {
            m_error = error;
            qCWarning(lcSerial).noquote() << "serial capture ended:" << error;
            return;
        }
    }
    const ssize_t n = ::write(m_fd, bytes.constData(), size_t(bytes.size()));
    if (n > 0)
        m_size += n;
}

ZQSerialCapture::Parsed ZQSerialCapture::parse(const QString &text)
{
    static const QRegularExpression frameLine(QStringLiteral(
        "^\\+?(\\d+)(?:\\.(\\d{1,3}))?\\s+(?:\\d\\d:\\d\\d:\\d\\d(?:\\.\\d+)?\\s+)?(PC|BOARD)\\s+([0-9A-Fa-f\\s]+)$"));
    static const QRegularExpression remark(QStringLiteral("^#\\s*\\+?(\\d+)(?:\\.(\\d{1,3}))?\\s+(.*)$"));
    static const QRegularExpression linkUp(QStringLiteral("^link up, version (\\d+)"));
    static const QRegularExpression linkLost(QStringLiteral("^link lost"));
    Parsed parsed;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('#'))) {
            const QRegularExpressionMatch r = remark.match(line);
            if (!r.hasMatch())
                continue;
            const qint64 ms = msOf(r.captured(1), r.captured(2));
            const QRegularExpressionMatch up = linkUp.match(r.captured(3));
            if (up.hasMatch())
                parsed.linkUps.append({ms, up.captured(1).toInt()});
            else if (linkLost.match(r.captured(3)).hasMatch())
                parsed.linkLosses.append(ms);
            continue;
        }
        const QRegularExpressionMatch m = frameLine.match(line);
        QString digits = m.captured(4);
        digits.remove(QRegularExpression(QStringLiteral("\\s")));
        if (!m.hasMatch() || digits.isEmpty() || digits.size() % 2 != 0) {
            parsed.errors << QStringLiteral("line %1: not a frame line: %2").arg(i + 1).arg(line.left(80));
            continue;
        }
        Entry e;
        e.line = i + 1;
        e.ms = msOf(m.captured(1), m.captured(2));
        e.direction = m.captured(3) == QLatin1String("PC") ? ToBoard : FromBoard;
        e.frame = QByteArray::fromHex(digits.toLatin1());
        parsed.entries.append(e);
    }
    return parsed;
}
