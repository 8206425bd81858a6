#ifndef PROCESSSAMPLER_H
#define PROCESSSAMPLER_H

#include <QVector>
#include <QtGlobal>

// What a running process holds, read from /proc/<pid>: resident memory,
// open descriptors, threads and the processor time it has used so far.
class ProcessSampler
{
public:
    struct Sample
    {
        qint64 atMs = 0;  // the caller's clock
        qint64 rssKb = 0; // VmRSS
        int fds = 0;      // entries of fd/
        int threads = 0;  // entries of task/
        qint64 cpuMs = 0; // user + system time of all its threads
    };

    explicit ProcessSampler(qint64 pid);

    // False when the process is gone or /proc cannot be read.
    bool take(qint64 atMs, Sample *sample) const;

    // Least-squares slope of y over x; 0 for fewer than two distinct x.
    static double slope(const QVector<double> &x, const QVector<double> &y);

private:
    qint64 m_pid;
    qint64 m_ticksPerSecond;
};

#endif // PROCESSSAMPLER_H
