#include "czqsharedkit.h"

#include "sharedkitlogging.h"
#include "zqipc.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QThread>
#include <QtDebug>

#include <chrono>

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

} // namespace

CZqSharedKit *CZqSharedKit::getInstence()
{
    // Created on first use, never destroyed: callers on any thread may still
    // hold it while the program ends.
    static CZqSharedKit *const instance = new CZqSharedKit;
    return instance;
}

CZqSharedKit::CZqSharedKit()
{
    // The facade lives on a thread of its own: its answers and its rejoins
    // then never wait for the event loop of a thread that may be the one
    // waiting for the answer.
    m_busThread = new QThread;
    m_busThread->setObjectName(QStringLiteral("sharedkit bus"));
    m_busContext = new QObject;
    m_busContext->moveToThread(m_busThread);
    connect(m_busThread, &QThread::finished, m_busContext, &QObject::deleteLater);
    m_busThread->start();
    std::lock_guard<std::mutex> lock(m_sendMutex);
    ensureConnected();
}

CZqSharedKit::~CZqSharedKit()
{
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        if (ZQIPC *ipc = m_ipc.exchange(nullptr)) {
            disconnect(ipc, &ZQIPC::sigRecvInfo, this, &CZqSharedKit::slotReciveMessage);
            // Deleted on its own thread as that thread ends.
            ipc->deleteLater();
        }
    }
    m_busThread->quit();
    m_busThread->wait();
    delete m_busThread;
}

bool CZqSharedKit::ensureConnected()
{
    ZQIPC *ipc = m_ipc;
    if (ipc && ipc->isConnected())
        return true;
    return reconnect();
}

bool CZqSharedKit::reconnect()
{
    // Made and joined on the bus thread: the facade's own rejoins run there
    // and hand its connection to a new receive thread, which only the thread
    // that made the connection may do.
    std::atomic<bool> ok{false};
    QMetaObject::invokeMethod(m_busContext, [this, &ok]() {
        // A facade connects only once; a hub that was missing or went away needs a new one.
        if (ZQIPC *old = m_ipc.exchange(nullptr)) {
            old->closeClient();
            old->deleteLater();
        }
        auto *ipc = new ZQIPC;
        // Rejoins by itself when the control centre (and its hub) restarts.
        ipc->setReconnecting(true);
        // Direct: the answer is taken on the bus thread, where the facade emits it.
        connect(ipc, &ZQIPC::sigRecvInfo, this, &CZqSharedKit::slotReciveMessage, Qt::DirectConnection);
        ok = ipc->createTcpClient(QString::fromLatin1(kOwnId), kHubAddress, ZQIPC::busPort());
        if (!ok)
            qCDebug(lcSharedKit) << "CZqSharedKit: no hub yet, will connect on next use";
        m_ipc = ipc;
    }, Qt::BlockingQueuedConnection);
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

    std::lock_guard<std::mutex> lock(m_sendMutex);
    ensureConnected();
    int result = m_ipc.load()->sentInfo(text);
    // The hub may have gone away without the connection noticing yet.
    if (result == 1 && reconnect())
        result = m_ipc.load()->sentInfo(text);
    return result;
}

int CZqSharedKit::checkProgramRun(const QString &name)
{
    static const QString exe = QStringLiteral(".exe");
    // As "ps -ef|grep <name without .exe>" would tell: the grep process holds
    // "grep " and the name it searches for, so only a ".exe" name can tell a
    // real process.
    if (!name.endsWith(exe)) {
        qCDebug(lcSharedKit) << "checkProgramRun" << name << "is not a .exe name: 0";
        return 0;
    }
    QString copy = name;
    copy.remove(exe);
    if (copy.isEmpty())
        return 0;

    // The command lines that ps would list, read where ps reads them: a
    // check asked for every pen event must not start three programs each time.
    QString found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        entry.toInt(&isPid);
        if (!isPid)
            continue;
        QFile file(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline"));
        if (!file.open(QIODevice::ReadOnly))
            continue;  // ended meanwhile, or hidden from us (as from ps)
        QByteArray line = file.readAll();
        line.replace('\0', ' ');
        const QString text = QString::fromLocal8Bit(line).trimmed();
        if (text.contains(copy))
            found += text + QLatin1Char('\n');
    }
    qCDebug(lcSharedKit).noquote() << "checkProgramRun" << name << found;

    return found.contains(name) && !found.contains(QStringLiteral("grep ") + name) ? 1 : 0;
}

int CZqSharedKit::getActiveApp()
{
    if (checkProgramRun(QStringLiteral("VelaAnnotation.exe")) == 1)
        return 2;

    // Registered before the question goes out, so no answer to it can be
    // missed; an answer that came before (to an earlier question) is not
    // taken for this one.
    Question question;
    std::unique_lock<std::mutex> lock(m_answerMutex);
    m_questions.append(&question);
    lock.unlock();

    publish(QStringLiteral("ID_APP_IS_TOP"), QStringLiteral("ANY"));

    lock.lock();
    m_answerArrived.wait_for(lock, std::chrono::milliseconds(kAnswerMs), [&question] { return question.answered; });
    m_questions.removeOne(&question);
    return question.index;
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
    // Nobody waiting: a late answer, dropped so it answers no later question.
    std::lock_guard<std::mutex> lock(m_answerMutex);
    for (Question *q : qAsConst(m_questions)) {
        if (!q->answered) {
            q->index = index;
            q->answered = true;
        }
    }
    m_answerArrived.notify_all();
}
