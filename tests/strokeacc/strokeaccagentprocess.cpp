#include "strokeaccagentprocess.h"

#include <QFile>
#include <QProcessEnvironment>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

StrokeAccAgentProcess::StrokeAccAgentProcess() = default;

StrokeAccAgentProcess::~StrokeAccAgentProcess()
{
    stop();
}

bool StrokeAccAgentProcess::start(const QString &display, const QStringList &args,
                                  QProcess::ProcessChannelMode channels)
{
    return startCopy(m_process, display, args, channels);
}

bool StrokeAccAgentProcess::startCopy(QProcess &copy, const QString &display, const QStringList &args,
                                      QProcess::ProcessChannelMode channels)
{
    const QString exe = m_dir.filePath(QStringLiteral("VelaStrokeAccelerate"));
    if (!QFile::exists(exe)) {
        if (!m_dir.isValid() || !QFile::copy(QStringLiteral(VELA_BIN_DIR "/VelaStrokeAccelerate"), exe)) {
            m_error = QStringLiteral("VelaStrokeAccelerate not built in " VELA_BIN_DIR);
            return false;
        }
    }
    QFile showLog(m_dir.filePath(QStringLiteral("showlog.txt")));
    if (m_fileLog)
        showLog.open(QIODevice::WriteOnly);
    else
        showLog.remove();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // The cases read the agent's trace lines in its log: "showlog.txt" alone
    // turns them on, as it does for a user.
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    copy.setProcessEnvironment(env);
    copy.setProcessChannelMode(channels);
    copy.start(exe, args);
    if (!copy.waitForStarted(5000)) {
        m_error = QStringLiteral("VelaStrokeAccelerate did not start: ") + copy.errorString();
        return false;
    }
    return true;
}

void StrokeAccAgentProcess::stop()
{
    stop(m_process);
}

void StrokeAccAgentProcess::stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(2000);
}

QString StrokeAccAgentProcess::log() const
{
    QFile f(m_dir.filePath(QStringLiteral("log.txt")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

unsigned StrokeAccAgentProcess::rootPixel(const QString &display, int x, int y)
{
    Display *d = XOpenDisplay(display.toLocal8Bit().constData());
    if (!d)
        return ~0u;
    unsigned p = ~0u;
    if (XImage *image = XGetImage(d, DefaultRootWindow(d), x, y, 1, 1, AllPlanes, ZPixmap)) {
        p = unsigned(XGetPixel(image, 0, 0) & 0xFFFFFF);
        XDestroyImage(image);
    }
    XCloseDisplay(d);
    return p;
}
