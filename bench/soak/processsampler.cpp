#include "processsampler.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <dirent.h>
#include <unistd.h>

namespace {

// Descriptors are links that lead nowhere as paths (sockets, pipes): count
// the names themselves.
int entriesOf(const QString &path)
{
    DIR *dir = opendir(QFile::encodeName(path).constData());
    if (!dir)
        return -1;
    int n = 0;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++n;
    }
    closedir(dir);
    return n;
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    // /proc files report size 0: read until the end instead.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

ProcessSampler::ProcessSampler(qint64 pid)
    : m_pid(pid)
    , m_ticksPerSecond(sysconf(_SC_CLK_TCK) > 0 ? sysconf(_SC_CLK_TCK) : 100)
{
}

bool ProcessSampler::take(qint64 atMs, Sample *sample) const
{
    const QString base = QStringLiteral("/proc/%1/").arg(m_pid);
    Sample s;
    s.atMs = atMs;

    const QByteArray status = contentsOf(base + QStringLiteral("status"));
    const int rss = status.indexOf("\nVmRSS:");
    if (rss < 0)
        return false;
    s.rssKb = status.mid(rss + 7, status.indexOf('\n', rss + 1) - rss - 7).trimmed().split(' ').value(0).toLongLong();

    // The name in brackets may hold blanks and brackets; the fields that
    // follow the last ')' are counted from the state on (utime and stime are
    // the 14th and 15th field of the line).
    const QByteArray stat = contentsOf(base + QStringLiteral("stat"));
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return false;
    s.cpuMs = (fields.at(11).toLongLong() + fields.at(12).toLongLong()) * 1000 / m_ticksPerSecond;

    s.fds = entriesOf(base + QStringLiteral("fd"));
    s.threads = entriesOf(base + QStringLiteral("task"));
    if (s.fds < 0 || s.threads < 0)
        return false;
    *sample = s;
    return true;
}

double ProcessSampler::slope(const QVector<double> &x, const QVector<double> &y)
{
    const int n = std::min(x.size(), y.size());
    if (n < 2)
        return 0;
    double mx = 0, my = 0;
    for (int i = 0; i < n; ++i) {
        mx += x.at(i);
        my += y.at(i);
    }
    mx /= n;
    my /= n;
    double sxy = 0, sxx = 0;
    for (int i = 0; i < n; ++i) {
        sxy += (x.at(i) - mx) * (y.at(i) - my);
        sxx += (x.at(i) - mx) * (x.at(i) - mx);
    }
    return sxx > 0 ? sxy / sxx : 0;
}
