#ifndef STROKEACCAGENTPROCESS_H
#define STROKEACCAGENTPROCESS_H

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The real stroke-acceleration agent for a test or a benchmark: the built
// program copied into a folder of its own, where a "showlog.txt" switches its
// file log on, and run on a given X display with the environment of the
// test (VELA_BUS_PORT among it). Further copies can be started from the same
// folder (the single-instance case).
class StrokeAccAgentProcess
{
public:
    StrokeAccAgentProcess();
    ~StrokeAccAgentProcess();
    StrokeAccAgentProcess(const StrokeAccAgentProcess &) = delete;
    StrokeAccAgentProcess &operator=(const StrokeAccAgentProcess &) = delete;

    // Whether the agent keeps its file log (on by default); as installed, it
    // keeps none.
    void setFileLog(bool on) { m_fileLog = on; }
    // The agent in process(); false with errorText() set when it did not start.
    bool start(const QString &display, const QStringList &args = {},
               QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels);
    // Another copy from the same folder, in `copy`.
    bool startCopy(QProcess &copy, const QString &display, const QStringList &args = {},
                   QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels);
    void stop();
    static void stop(QProcess &process);

    QProcess &process() { return m_process; }
    QString errorText() const { return m_error; }
    // The agent's file log so far.
    QString log() const;

    // One pixel of the root window of `display` as 0xRRGGBB; ~0u when it
    // cannot be read.
    static unsigned rootPixel(const QString &display, int x, int y);

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_error;
    bool m_fileLog = true;
};

#endif // STROKEACCAGENTPROCESS_H
