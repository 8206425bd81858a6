#include "czqsharedkit.h"

#include "sharedkitlogging.h"
#include "zqipc.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <QtDebug>

namespace {

const char kOwnId[] = "ID_APP_GETTOPAPP_DLL";
const char kHubAddress[] = "127.0.0.1";

// Index in this list is the top-program index.
const QStringList &topApps()
{
    static const QStringList apps{QStringLiteral("ID_APP_VELATOUCHPRO"), QStringLiteral("ID_APP_ASSISTANT_PLUGIN"),
                                  QStringLiteral("ID_APP_VELAANNOTATION"), QStringLiteral("ID_APP_VELACAMERA")};
    return apps;
}

// Quotes a text for sh so that it reaches the program as one literal word.
QString shellQuoted(QString text)
{
    text.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

} // namespace

CZqSharedKit *CZqSharedKit::getInstence()
{
    // Created on first use, never destroyed: callers on any thread may still
    // hold it while the program ends.
    static CZqSharedKit *const instance = new CZqSharedKit;
    return instance;
}

CZqSharedKit::CZqSharedKit()
    : m_mutex(new QMutex)
{
    // Answers arrive as queued signals: live on the thread that runs the
    // application's event loop even when first asked from a work thread.
    if (QCoreApplication *app = QCoreApplication::instance()) {
        if (thread() != app->thread())
            moveToThread(app->thread());
    }
    QMutexLocker lock(&m_sendMutex);
    ensureConnected();
}

CZqSharedKit::~CZqSharedKit()
{
    if (m_ipc) {
        disconnect(m_ipc, &ZQIPC::sigRecvInfo, this, &CZqSharedKit::slotReciveMessage);
        delete m_ipc;
    }
    delete m_mutex;
}

bool CZqSharedKit::ensureConnected()
{
    if (m_ipc && m_ipc->isConnected())
        return true;
    return reconnect();
}

bool CZqSharedKit::reconnect()
{
    // A facade connects only once; a hub that was missing or went away needs a new one.
    if (m_ipc) {
        m_ipc->closeClient();
        m_ipc->deleteLater();
        m_ipc = nullptr;
    }
    auto *ipc = new ZQIPC;
    // Rejoins by itself when the control centre (and its hub) restarts.
    ipc->setReconnecting(true);
    ipc->moveToThread(thread());
    connect(ipc, &ZQIPC::sigRecvInfo, this, &CZqSharedKit::slotReciveMessage);
    const bool ok = ipc->createTcpClient(QString::fromLatin1(kOwnId), kHubAddress, ZQIPC::busPort());
    if (!ok)
        qCDebug(lcSharedKit) << "CZqSharedKit: no hub yet, will connect on next use";
    m_ipc = ipc;
    return ok;
}

int CZqSharedKit::publish(const QString &eventId, const QString &to)
{
    QJsonObject message;
    message.insert(QStringLiteral("eventid"), eventId);
    message.insert(QStringLiteral("from"), QString::fromLatin1(kOwnId));
    message.insert(QStringLiteral("to"), to);
    QString text = QString::fromUtf8(QJsonDocument(message).toJson());
    const int nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);

    QMutexLocker lock(&m_sendMutex);
    ensureConnected();
    int result = m_ipc->sentInfo(text);
    // The hub may have gone away without the connection noticing yet.
    if (result == 1 && reconnect())
        result = m_ipc->sentInfo(text);
    return result;
}

int CZqSharedKit::checkProgramRun(const QString &name)
{
    static const QString exe = QStringLiteral(".exe");
    // The grep process holds "grep " and the name it searches for, so only a
    // ".exe" name (searched for without its suffix) can tell a real process.
    if (!name.endsWith(exe)) {
        qCDebug(lcSharedKit) << "checkProgramRun" << name << "is not a .exe name: 0";
        return 0;
    }
    QString copy = name;
    copy.remove(exe);
    if (copy.isEmpty())
        return 0;

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("COLUMNS"));  // ps would cut long command lines
    process.setProcessEnvironment(env);
    // Quoted, so a name can never run a command; -F -e: a literal text, even
    // one that starts with "-" or holds regular-expression characters.
    process.start(QStringLiteral("sh"),
                  {QStringLiteral("-c"), QStringLiteral("ps -ef|grep -F -e ") + shellQuoted(copy)},
                  QIODevice::ReadWrite);
    if (!process.waitForStarted(30000)) {
        qCWarning(lcSharedKit) << "checkProgramRun: sh did not start";
        return 0;
    }
    process.closeWriteChannel();
    QString output;
    while (process.waitForReadyRead(30000))
        output += QString::fromLocal8Bit(process.readAllStandardOutput());
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(30000)) {
        qCWarning(lcSharedKit) << "checkProgramRun: ps|grep did not finish";
        process.kill();
        process.waitForFinished(1000);
        return 0;
    }
    output += QString::fromLocal8Bit(process.readAllStandardOutput());
    qCDebug(lcSharedKit).noquote() << "checkProgramRun" << name << output;

    return output.contains(name) && !output.contains(QStringLiteral("grep ") + name) ? 1 : 0;
}

int CZqSharedKit::getActiveApp()
{
    {
        QMutexLocker lock(m_mutex);
        m_topIndex = -1;
        // A late answer to an earlier question must not answer this one.
        m_answered = false;
        ++m_askers;
    }
    if (checkProgramRun(QStringLiteral("VelaAnnotation.exe")) == 1) {
        QMutexLocker lock(m_mutex);
        --m_askers;
        return 2;
    }

    publish(QStringLiteral("ID_APP_IS_TOP"), QStringLiteral("ANY"));
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        {
            QMutexLocker lock(m_mutex);
            if (m_answered)
                break;
        }
        QCoreApplication::processEvents();
        QThread::msleep(100);
        if (timer.elapsed() > 999)
            break;
    }
    // One last look at what arrived during the final sleep.
    QCoreApplication::processEvents();

    QMutexLocker lock(m_mutex);
    --m_askers;
    m_answered = false;
    return m_topIndex;
}

QString CZqSharedKit::getTopApp()
{
    return topApps().value(getActiveApp());
}

void CZqSharedKit::ShowActiovApp(QString app)
{
    publish(QStringLiteral("ID_SHOW_ACTIVE"), app);
}

void CZqSharedKit::closeWindow(QString app)
{
    publish(QStringLiteral("ID_EVENT_APP_EXIT"), app);
}

void CZqSharedKit::slotReciveMessage(QString message)
{
    // The program in front answers "ID_APP_IS_TOP" with its own identifier
    // in "from"; anything else on this connection needs no action.
    const QJsonObject answer = QJsonDocument::fromJson(message.toUtf8()).object();
    if (answer.value(QStringLiteral("eventid")).toString() != QLatin1String("ID_APP_IS_TOP"))
        return;
    const int index = topApps().indexOf(answer.value(QStringLiteral("from")).toString());
    if (index < 0)
        return;
    QMutexLocker lock(m_mutex);
    if (m_askers == 0)
        return;
    m_topIndex = index;
    m_answered = true;
}
