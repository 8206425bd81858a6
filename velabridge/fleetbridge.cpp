#include "fleetbridge.h"

#include "fleetlogging.h"
#include "fleetmqtt.h"
#include "zqipc.h"
#include "zqwire.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimer>

namespace {

const int kMaxInFlight = 32;
// A command larger than this is no "safe command"; the bus carries at most 20 KiB.
const int kMaxCommandBytes = 8192;
const qint64 kDuplicateWindowMs = 10 * 60 * 1000;
const int kMaxRememberedIds = 1024;
const qint64 kAnswerWaitMs = 120 * 1000;

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

QByteArray compact(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// Seconds since the panel started, or -1.
qint64 systemUptime()
{
    QFile f(QStringLiteral("/proc/uptime"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const double s = f.readLine().split(' ').value(0).toDouble(&ok);
    return ok ? qint64(s) : -1;
}

bool commandId(const QJsonValue &v, QString *id)
{
    static const QRegularExpression safe(QStringLiteral("^[A-Za-z0-9_.:-]{1,64}$"));
    if (v.isString())
        *id = v.toString();
    else if (v.isDouble() && v.toDouble() == double(qint64(v.toDouble())))
        *id = QString::number(qint64(v.toDouble()));
    else
        return false;
    return safe.match(*id).hasMatch();
}

} // namespace

FleetBridge::FleetBridge(const FleetConfig &config, QObject *parent)
    : QObject(parent), m_config(config), m_link(QStringLiteral("unknown"))
{
    m_clock.start();
    for (const QString &e : config.events)
        m_events.insert(e);

    FleetMqtt::Settings s;
    s.host = config.host;
    s.port = config.port;
    s.tls = config.tls;
    s.caFile = config.caFile;
    s.certFile = config.certFile;
    s.keyFile = config.keyFile;
    s.user = config.user;
    s.password = config.password;
    s.clientId = config.clientId;
    s.keepAliveS = config.keepAliveS;
    s.willTopic = topic(QStringLiteral("status"));
    s.willPayload = "offline";
    m_mqtt = new FleetMqtt(s, this);
    // Queued, all four: most are emitted inside the library's callbacks,
    // which must not be re-entered, and their order (an acknowledgement
    // before the loss of its connection) must hold.
    connect(m_mqtt, &FleetMqtt::sigConnected, this, &FleetBridge::onConnected, Qt::QueuedConnection);
    connect(m_mqtt, &FleetMqtt::sigDisconnected, this, &FleetBridge::onDisconnected, Qt::QueuedConnection);
    connect(m_mqtt, &FleetMqtt::sigPublished, this, &FleetBridge::onPublished, Qt::QueuedConnection);
    connect(m_mqtt, &FleetMqtt::sigMessage, this, &FleetBridge::onCommand, Qt::QueuedConnection);

    m_bus = new ZQIPC(this);
    m_bus->setReconnecting(true);
    connect(m_bus, &ZQIPC::sigRecvInfo, this, &FleetBridge::onBusMessage);
    connect(m_bus, &ZQIPC::sigHubJoined, this, [this]() {
        // The centre publishes the board's link as it changes; a bridge that
        // joins later asks for the state once.
        QJsonObject ask;
        ask.insert(QStringLiteral("eventid"), QStringLiteral("GET_SERIAL_LINK_STATE"));
        ask.insert(QStringLiteral("from"), QLatin1String(FleetCommandPolicy::kBusId));
        ask.insert(QStringLiteral("to"), QStringLiteral("ID_APP_VELACENTER"));
        m_bus->sentInfo(QStringLiteral("ID_APP_VELACENTER"), QString::fromUtf8(compact(ask)));
        m_busUp = true;
        qCInfo(lcFleet) << "joined the panel's bus";
        publishInfo();
    });
    connect(m_bus, &ZQIPC::sigHubLost, this, [this]() {
        m_busUp = false;
        qCWarning(lcFleet) << "the panel's bus went away; rejoining when it is back";
        publishInfo();
    });

    m_infoTimer = new QTimer(this);
    connect(m_infoTimer, &QTimer::timeout, this, &FleetBridge::publishInfo);
}

FleetBridge::~FleetBridge() = default;

QString FleetBridge::topic(const QString &leaf) const
{
    return QStringLiteral("vela/") + m_config.panel + QLatin1Char('/') + leaf;
}

void FleetBridge::start()
{
    qCInfo(lcFleet).noquote() << "panel" << m_config.panel << "to"
                              << QStringLiteral("%1://%2:%3").arg(m_config.tls ? "mqtts" : "mqtt", m_config.host)
                                     .arg(m_config.port)
                              << "; events out:" << m_config.events.join(QLatin1Char(' '))
                              << "; commands in:"
                              << (m_config.commands.rules().isEmpty() ? QStringLiteral("none")
                                                                     : m_config.commands.describe().join(QLatin1Char(' ')));
    // Subscribed once: the facade sends them again on every rejoin, and the
    // hub takes them over from the bridge's earlier connections.
    for (const QString &source : qAsConst(m_config.sources))
        m_bus->registerMsgAccept(source);
    m_bus->createTcpClient(QLatin1String(FleetCommandPolicy::kBusId), "127.0.0.1", ZQIPC::busPort());
    m_mqtt->start();
    m_infoTimer->start(m_config.infoIntervalS * 1000);
}

void FleetBridge::finish(int timeoutMs)
{
    if (m_finishing)
        return;
    m_finishing = true;
    m_infoTimer->stop();
    m_bus->closeClient();
    // The last will is for a bridge that dies; one that stops says so itself.
    m_offlineMid = m_mqtt->publish(topic(QStringLiteral("status")), "offline", true);
    if (m_offlineMid < 0)
        m_mqtt->finish();
    else
        QTimer::singleShot(timeoutMs, m_mqtt, &FleetMqtt::finish);
}

void FleetBridge::onConnected()
{
    if (m_finishing)
        return;
    m_mqtt->publish(topic(QStringLiteral("status")), "online", true);
    publishInfo();
    m_mqtt->subscribe(topic(QStringLiteral("cmd/+")));
    pump();
}

void FleetBridge::onDisconnected()
{
    // A new connection starts with a fresh client: everything not
    // acknowledged is sent again from the queue, in order.
    for (Outgoing &o : m_queue)
        o.mid = -1;
    m_inFlight = 0;
    if (m_finishing && !m_finished) {
        m_finished = true;
        emit sigFinished();
    }
}

void FleetBridge::onPublished(int mid)
{
    if (m_finishing && mid == m_offlineMid) {
        m_mqtt->finish();
        return;
    }
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
        if (it->mid == mid) {
            m_queue.erase(it);
            --m_inFlight;
            break;
        }
    }
    pump();
}

void FleetBridge::pump()
{
    if (!m_mqtt->isConnected() || m_finishing)
        return;
    for (Outgoing &o : m_queue) {
        if (m_inFlight >= kMaxInFlight)
            return;
        if (o.mid >= 0)
            continue;
        o.mid = m_mqtt->publish(o.topic, o.payload, false);
        if (o.mid < 0)
            return;
        ++m_inFlight;
    }
}

void FleetBridge::enqueue(const QString &topic, QJsonObject body)
{
    body.insert(QStringLiteral("timestamp"), now());
    m_queue.push_back(Outgoing{topic, compact(body), -1});
    while (int(m_queue.size()) > m_config.queueLimit) {
        if (m_queue.front().mid >= 0)
            --m_inFlight;
        m_queue.pop_front();
        ++m_dropped;
        warn(QStringLiteral("queue"),
             QStringLiteral("queue for the broker full (%1): oldest event dropped, %2 dropped so far")
                 .arg(m_config.queueLimit).arg(m_dropped));
    }
    pump();
}

QByteArray FleetBridge::infoPayload() const
{
    QJsonObject info;
    info.insert(QStringLiteral("panel"), m_config.panel);
    info.insert(QStringLiteral("version"), QStringLiteral(VELA_VERSION));
    info.insert(QStringLiteral("link"), m_link);
    info.insert(QStringLiteral("bus"), m_busUp ? QStringLiteral("up") : QStringLiteral("down"));
    info.insert(QStringLiteral("uptime"), systemUptime());
    info.insert(QStringLiteral("dropped"), m_dropped);
    info.insert(QStringLiteral("timestamp"), now());
    return compact(info);
}

void FleetBridge::publishInfo()
{
    if (!m_finishing)
        m_mqtt->publish(topic(QStringLiteral("info")), infoPayload(), true);
}

void FleetBridge::setLink(const QString &state)
{
    if (state == m_link)
        return;
    m_link = state;
    qCInfo(lcFleet).noquote() << "mainboard link" << state;
    publishInfo();
}

void FleetBridge::onBusMessage(const QString &text)
{
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    if (message.isEmpty())
        return; // the hub's hello reply, or not JSON
    const QString event = message.value(QStringLiteral("eventid")).toString();

    if (event == QLatin1String(FleetConfig::kLinkEvent)) {
        const QJsonValue v = message.value(QStringLiteral("param")).toArray().at(0).toObject().value(QStringLiteral("value"));
        const bool up = v.isString() ? v.toString() == QLatin1String("up") : v.toVariant().toBool();
        setLink(up ? QStringLiteral("up") : QStringLiteral("down"));
    }

    // The answer to a command of the fleet carries the id it was sent with.
    const QString busId = message.value(QStringLiteral("id")).toString();
    const QString prefix = QLatin1String(FleetCommandPolicy::kBusIdPrefix);
    if (busId.startsWith(prefix) && m_awaiting.remove(busId.mid(prefix.size())) > 0) {
        QJsonObject answer;
        answer.insert(QStringLiteral("result"), QStringLiteral("answered"));
        answer.insert(QStringLiteral("message"), message);
        reply(busId.mid(prefix.size()), answer);
    }

    if (!m_events.contains(event))
        return;
    qCDebug(lcFleet).noquote() << "event" << event;
    enqueue(topic(QStringLiteral("event/") + event), message);
}

void FleetBridge::reply(const QString &id, QJsonObject body)
{
    body.insert(QStringLiteral("id"), id);
    enqueue(topic(QStringLiteral("reply/") + id), body);
}

void FleetBridge::warn(const QString &kind, const QString &text)
{
    int heldBack = 0;
    if (!m_warnings.take(kind, &heldBack))
        return;
    if (heldBack > 0)
        qCWarning(lcFleet).noquote() << text << QStringLiteral("(and %1 more like it not shown)").arg(heldBack);
    else
        qCWarning(lcFleet).noquote() << text;
}

bool FleetBridge::seenBefore(const QString &id)
{
    const qint64 t = m_clock.elapsed();
    while (!m_seenOrder.empty()
           && (t - m_seenOrder.front().second > kDuplicateWindowMs || int(m_seenOrder.size()) >= kMaxRememberedIds)) {
        m_seen.remove(m_seenOrder.front().first);
        m_seenOrder.pop_front();
    }
    if (m_seen.contains(id))
        return true;
    m_seen.insert(id);
    m_seenOrder.emplace_back(id, t);
    return false;
}

void FleetBridge::onCommand(const QString &topicName, const QByteArray &payload, bool retained)
{
    const QString prefix = topic(QStringLiteral("cmd/"));
    if (!topicName.startsWith(prefix) || m_finishing)
        return;
    const QString event = topicName.mid(prefix.size());
    if (retained) {
        // A retained command would be acted on again at every reconnect.
        warn(QStringLiteral("retained"), QStringLiteral("retained command on %1 ignored: commands are acted on "
                                                        "once, when sent").arg(topicName));
        return;
    }
    QJsonParseError error;
    const QJsonDocument doc = payload.size() <= kMaxCommandBytes ? QJsonDocument::fromJson(payload, &error)
                                                                 : QJsonDocument();
    QString id;
    if (!doc.isObject() || !commandId(doc.object().value(QStringLiteral("id")), &id)) {
        warn(QStringLiteral("malformed ") + event,
             QStringLiteral("malformed command on %1 dropped: not a JSON object of at most %2 bytes with an \"id\" "
                            "(1-64 letters, digits, '_', '.', ':', '-')").arg(topicName).arg(kMaxCommandBytes));
        return;
    }
    if (seenBefore(id)) {
        warn(QStringLiteral("duplicate ") + event, QStringLiteral("duplicate command %1 id %2 dropped").arg(event, id));
        return;
    }

    QJsonObject result;
    const FleetCommandPolicy::Decision d = m_config.commands.decide(event, id, doc.object());
    const QByteArray text = d.allowed ? compact(d.message) : QByteArray();
    if (!d.allowed || text.contains(ZQWire::kMarker)) {
        const QString reason = d.allowed ? QStringLiteral("the text cannot travel on the bus") : d.reason;
        warn(QStringLiteral("refused ") + event, QStringLiteral("command %1 id %2 refused: %3").arg(event, id, reason));
        result.insert(QStringLiteral("result"), QStringLiteral("refused"));
        result.insert(QStringLiteral("reason"), reason);
        reply(id, result);
        return;
    }
    if (m_bus->sentInfo(d.target, QString::fromUtf8(text)) != 0) {
        warn(QStringLiteral("bus"), QStringLiteral("command %1 id %2 not delivered: the panel's bus is not reached")
                                        .arg(event, id));
        result.insert(QStringLiteral("result"), QStringLiteral("failed"));
        result.insert(QStringLiteral("reason"), QStringLiteral("the panel's bus is not reached"));
        reply(id, result);
        return;
    }
    qCDebug(lcFleet).noquote() << "command" << event << "id" << id << "to" << d.target;
    const qint64 t = m_clock.elapsed();
    for (auto it = m_awaiting.begin(); it != m_awaiting.end();)
        it = t - it.value() > kAnswerWaitMs ? m_awaiting.erase(it) : std::next(it);
    if (m_awaiting.size() < kMaxRememberedIds)
        m_awaiting.insert(id, t);
    result.insert(QStringLiteral("result"), QStringLiteral("sent"));
    result.insert(QStringLiteral("target"), d.target);
    reply(id, result);
}
