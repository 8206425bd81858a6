#include "strokeaccexe.h"

#include "strokeacccode.h"
#include "strokeacclogging.h"
#include "strokeaccscreen.h"
#include "zqipc.h"
#include "zqsacw.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
const char kSelf[] = "ID_APP_VELASTROKEACCELERATE";
const char kCentre[] = "ID_APP_VELACENTER";
const char kBusHost[] = "127.0.0.1";
constexpr int kRegisterDelayMs = 1000;
constexpr int kShowMs = 1500;
} // namespace

StrokeAccExe::StrokeAccExe(QObject *parent) : QObject(parent)
{
    m_registerTimer.setSingleShot(true);
    m_registerTimer.setInterval(kRegisterDelayMs);
    connect(&m_registerTimer, &QTimer::timeout, this, &StrokeAccExe::sltRegister);
    m_hideTimer.setSingleShot(true);
    m_hideTimer.setInterval(kShowMs);
    connect(&m_hideTimer, &QTimer::timeout, this, &StrokeAccExe::sltHideCW);

    m_ipc = new ZQIPC;
    qCDebug(lcStrokeAcc).noquote() << "[velastrokeaccelerate]" << "new ipc";
    m_ipc->setReconnecting(true);
    connect(m_ipc, &ZQIPC::sigRecvInfo, this, &StrokeAccExe::sltRecvInfo);
    connect(m_ipc, &ZQIPC::sigHubJoined, this, &StrokeAccExe::sltJoined);
    connect(m_ipc, &ZQIPC::sigHubLost, this, &StrokeAccExe::sltLost);
    const bool ok = m_ipc->createTcpClient(QString::fromLatin1(kSelf), kBusHost, ZQIPC::busPort());
    if (!ok)
        qCDebug(lcStrokeAcc).noquote() << "[velastrokeaccelerate]" << "connect ipc:" << "false";
}

StrokeAccExe::~StrokeAccExe()
{
    delete m_ipc;
    for (ZQSACW *corner : m_corners)
        delete corner;
}

void StrokeAccExe::sltJoined()
{
    qCDebug(lcStrokeAcc).noquote() << "[velastrokeaccelerate]" << "connect ipc:" << "true";
    // Later joins get the subscription from the facade itself.
    if (!m_registered)
        m_registerTimer.start();
}

void StrokeAccExe::sltLost()
{
    qCWarning(lcStrokeAcc).noquote() << "[velastrokeaccelerate]" << "bus connection lost, connecting again";
}

void StrokeAccExe::sltRegister()
{
    m_registered = true;
    m_ipc->registerMsgAccept(QString::fromLatin1(kCentre));
    qCDebug(lcStrokeAcc).noquote() << "[velastrokeaccelerate]" << "reg ipc";
}

void StrokeAccExe::sltRecvInfo(const QString &sInfo)
{
    qCDebug(lcStrokeAcc).noquote() << "[velastrokeaccelerate]" << "sltRecvInfo json: " << sInfo;
    const QJsonObject message = QJsonDocument::fromJson(sInfo.toUtf8()).object();
    if (message.isEmpty()) {
        qCDebug(lcStrokeAcc).noquote() << "[velastrokeaccelerate]" << " ZQIPC recv info is null.";
        return;
    }
    if (message.value(QStringLiteral("eventid")).toString() != QLatin1String("ID_INKDRAW")
        || message.value(QStringLiteral("from")).toString() != QLatin1String(kCentre))
        return;

    const QString param = message.value(QStringLiteral("param")).toString().toUpper();
    qCDebug(lcStrokeAcc).noquote() << "[velastrokeaccelerate]" << "sParam:" << param;
    const QByteArray request = strokeAccHexToBytes(param);
    switch (strokeAccCheckRequest(request)) {
    case StrokeAccRequest::NotMarker:
        return;
    case StrokeAccRequest::BadCheck:
        qCWarning(lcStrokeAcc).noquote() << "[velastrokeaccelerate] E011-recv-data error: " << param;
        return;
    case StrokeAccRequest::Marker:
        break;
    }

    int width = 0, height = 0;
    getScreenResolution(&width, &height);
    const int screens = GetScreenCount();
    if (screens > 1) {
        qCWarning(lcStrokeAcc).noquote() << "[velastrokeaccelerate]" << "multi screen not supported, found screen:" << screens;
        return;
    }
    if (!strokeAccIsSixteenByNine(width, height)) {
        qCWarning(lcStrokeAcc).noquote() << "[velastrokeaccelerate]"
                             << "screen resolution requires 16:9, current resolution:"
                             << width << "x" << height;
        return;
    }
    if (screens != 1)
        return;   // no monitor reported: nothing the board could find

    const qint64 now = getTickCount();
    if (m_lastAccepted != 0 && now - m_lastAccepted <= kShowMs)
        return;   // the board asks again while the marker still shows
    const unsigned int colour = strokeAccRequestColour(request);
    if (showStrokeAccColorWindow(int(colour)) == 0) {
        sendInkDrawIPC(getInkDrawScreenShotRs232Code(colour));
        m_lastAccepted = now;
    }
}

int StrokeAccExe::showStrokeAccColorWindow(int colour)
{
    const QColor main(QRgb(0xFF000000u | (unsigned(colour) & 0xFFFFFF)));
    const QColor contrast(QRgb(0xFF000000u | strokeAccContrastColour(unsigned(colour))));
    int w = 0, h = 0;
    getScreenResolution(&w, &h);
    const int d = w / 480;

    m_hideTimer.stop();
    for (ZQSACW *&corner : m_corners) {
        if (!corner)
            corner = new ZQSACW;
    }
    m_corners[0]->showCW(main, 0, 0, d, d);
    m_corners[1]->showCW(contrast, w - d, 0, d, d);
    m_corners[2]->showCW(main, w - d, h - d, d, d);
    m_corners[3]->showCW(contrast, 0, h - d, d, d);
    m_hideTimer.start();
    return 0;
}

void StrokeAccExe::sltHideCW()
{
    for (ZQSACW *corner : m_corners) {
        if (corner)
            corner->close();
    }
}

void StrokeAccExe::sendInkDrawIPC(QString property)
{
    if (!m_ipc)
        return;
    QJsonObject answer;
    answer.insert(QStringLiteral("eventid"), QStringLiteral("ID_INKDRAW"));
    answer.insert(QStringLiteral("from"), QStringLiteral("ID_SDK_STROKEACCELERATE"));
    answer.insert(QStringLiteral("property"), property);
    answer.insert(QStringLiteral("scenario"), QStringLiteral("ID_SCENARIO_TEACHING"));
    answer.insert(QStringLiteral("to"), QLatin1String(kCentre));
    m_ipc->sentInfo(QString::fromLatin1(kCentre), QString::fromUtf8(QJsonDocument(answer).toJson()));
    qCDebug(lcStrokeAcc).noquote() << "[velastrokeaccelerate]" << "sendIPC:" << property;
}

StrokeAccExe *strokeAccExeInit()
{
    return new StrokeAccExe;
}

int strokeAccExeFree(StrokeAccExe *exe)
{
    if (!exe)
        return -1001;
    delete exe;
    return 0;
}
