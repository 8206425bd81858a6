#include "xvfbserver.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QThread>

XvfbServer::~XvfbServer()
{
    stop();
}

bool XvfbServer::start(int width, int height, const QStringList &extraArgs)
{
    // -displayfd lets the server pick a free display number and tell us.
    QStringList args{QStringLiteral("-displayfd"), QStringLiteral("1"),
                     QStringLiteral("-screen"), QStringLiteral("0"),
                     QStringLiteral("%1x%2x24").arg(width).arg(height),
                     QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")};
    args += extraArgs;
    m_server.setProcessChannelMode(QProcess::SeparateChannels);
    m_server.setStandardErrorFile(QProcess::nullDevice());
    m_server.start(QStringLiteral("Xvfb"), args);
    if (!m_server.waitForStarted(10000)) {
        m_error = QStringLiteral("Xvfb did not start: ") + m_server.errorString();
        return false;
    }
    QByteArray out;
    const QDeadlineTimer deadline(15000);
    while (!out.contains('\n') && !deadline.hasExpired()) {
        if (m_server.state() != QProcess::Running)
            break;
        m_server.waitForReadyRead(200);
        out += m_server.readAllStandardOutput();
    }
    const QByteArray number = out.trimmed();
    bool ok = false;
    number.toInt(&ok);
    if (!ok) {
        m_error = QStringLiteral("Xvfb gave no display number");
        stop();
        return false;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(number);
    return true;
}

bool XvfbServer::startWindowManager()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    m_windowManager.setProcessEnvironment(env);
    m_windowManager.setStandardOutputFile(QProcess::nullDevice());
    m_windowManager.setStandardErrorFile(QProcess::nullDevice());
    m_windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!m_windowManager.waitForStarted(10000)) {
        m_error = QStringLiteral("openbox did not start");
        return false;
    }
    // The manager is ready once it has announced itself on the root window.
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        QProcess xprop;
        xprop.setProcessEnvironment(env);
        xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        xprop.waitForFinished(5000);
        if (xprop.readAllStandardOutput().contains("window id"))
            return true;
        QThread::msleep(50);
    }
    m_error = QStringLiteral("openbox did not take the screen");
    return false;
}

void XvfbServer::stop()
{
    for (QProcess *p : {&m_windowManager, &m_server}) {
        if (p->state() == QProcess::NotRunning)
            continue;
        p->terminate();
        if (!p->waitForFinished(5000)) {
            p->kill();
            p->waitForFinished(2000);
        }
    }
}
