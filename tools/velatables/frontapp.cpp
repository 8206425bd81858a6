#include "frontapp.h"

#include "velatableslogging.h"
#include "zqipc.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {
const char kKit[] = "ID_APP_GETTOPAPP_DLL"; // the shared kit's identifier on the bus
const char kQuestion[] = "ID_APP_IS_TOP";
}

FrontApp::FrontApp(const QString &appId, QObject *parent)
    : QObject(parent)
    , m_appId(appId)
    , m_hub(new ZQIPC(this))
    , m_front(new ZQIPC)
{
    m_front->moveToThread(&m_frontThread);
    m_frontThread.start();
    if (!m_hub->createTcpServer(0)) {
        // Never the panel's own bus: a port nobody serves.
        qputenv("VELA_BUS_PORT", "1");
        qCWarning(lcVelaTables) << "no private bus hub; the application in front stays unknown";
        return;
    }
    const int port = m_hub->serverPort();
    qputenv("VELA_BUS_PORT", QByteArray::number(port));
    connect(m_front, &ZQIPC::sigRecvInfo, this, &FrontApp::answer, Qt::DirectConnection);
    if (m_front->createTcpClient(QStringLiteral("ID_APP_VELATABLES_DESKTOP"), "127.0.0.1", port))
        m_front->registerMsgAccept(QLatin1String(kKit));
}

FrontApp::~FrontApp()
{
    m_front->closeClient();
    m_frontThread.quit();
    m_frontThread.wait();
    delete m_front;
    m_hub->closeServer();
}

void FrontApp::answer(const QString &text)
{
    const QJsonObject question = QJsonDocument::fromJson(text.toUtf8()).object();
    if (m_appId.isEmpty() || question.value(QStringLiteral("eventid")).toString() != QLatin1String(kQuestion))
        return;
    QJsonObject reply;
    reply.insert(QStringLiteral("eventid"), QLatin1String(kQuestion));
    reply.insert(QStringLiteral("from"), m_appId);
    reply.insert(QStringLiteral("to"), QLatin1String(kKit));
    m_front->sentInfo(QLatin1String(kKit), QString::fromUtf8(QJsonDocument(reply).toJson()));
}
