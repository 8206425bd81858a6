#include "fleetmqtt.h"

#include "fleetlogging.h"

#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace {

const int kMiscMs = 1000;
const int kMaxWindowMs = 60000;
const char kSystemCertificates[] = "/etc/ssl/certs";

double jitter()
{
    static std::mt19937 generator{std::random_device{}()};
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}

QByteArray bytes(const QString &s)
{
    return s.toUtf8();
}

// Null for an empty setting, as the library wants.
const char *orNull(const QByteArray &b)
{
    return b.isEmpty() ? nullptr : b.constData();
}

// The library's text for a result; its "see errno" taken from errno at once.
QString describe(int rc)
{
    const int saved = errno;
    const QString text = QString::fromUtf8(rc == MOSQ_ERR_ERRNO ? strerror(saved) : mosquitto_strerror(rc));
    return text.isEmpty() ? QStringLiteral("error %1").arg(rc) : text;
}

bool powerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

} // namespace

FleetMqtt::FleetMqtt(const Settings &settings, QObject *parent) : QObject(parent), m_settings(settings)
{
    m_misc = new QTimer(this);
    connect(m_misc, &QTimer::timeout, this, [this]() {
        if (m_client)
            afterLoop(mosquitto_loop_misc(m_client), "keep-alive");
    });
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &FleetMqtt::attempt);
}

FleetMqtt::~FleetMqtt()
{
    closeClient();
}

int FleetMqtt::retryDelayMs(int attempt, double random)
{
    const int window = qMin(kMaxWindowMs, 1000 << qBound(0, attempt, 6));
    return window / 2 + int(qBound(0.0, random, 1.0) * (window / 2));
}

void FleetMqtt::start()
{
    m_finishing = false;
    attempt();
}

void FleetMqtt::closeClient()
{
    m_misc->stop();
    // Deleted later: this may run inside one of their own signals.
    for (QSocketNotifier *n : {m_read, m_write}) {
        if (n) {
            n->setEnabled(false);
            n->deleteLater();
        }
    }
    m_read = m_write = nullptr;
    if (m_client) {
        mosquitto_destroy(m_client);
        m_client = nullptr;
    }
}

void FleetMqtt::attempt()
{
    closeClient();
    m_lostReason.clear();
    const QByteArray id = bytes(m_settings.clientId);
    m_client = mosquitto_new(id.constData(), true, this);
    if (!m_client) {
        lost(QStringLiteral("no MQTT client (out of memory?)"));
        return;
    }
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    int rc = MOSQ_ERR_SUCCESS;
    if (m_settings.tls) {
        const QByteArray ca = bytes(m_settings.caFile), cert = bytes(m_settings.certFile), key = bytes(m_settings.keyFile);
        // The broker's name is checked against its certificate (not insecure).
        rc = mosquitto_tls_set(m_client, orNull(ca), ca.isEmpty() ? kSystemCertificates : nullptr, orNull(cert),
                               orNull(key), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            lost(QStringLiteral("TLS settings refused (%1)").arg(describe(rc)));
            return;
        }
    }
    if (!m_settings.user.isEmpty())
        mosquitto_username_pw_set(m_client, bytes(m_settings.user).constData(),
                                  orNull(bytes(m_settings.password)));
    if (!m_settings.willTopic.isEmpty())
        mosquitto_will_set(m_client, bytes(m_settings.willTopic).constData(), m_settings.willPayload.size(),
                           m_settings.willPayload.constData(), 1, true);
    mosquitto_connect_callback_set(m_client, &FleetMqtt::onConnect);
    mosquitto_disconnect_callback_set(m_client, &FleetMqtt::onDisconnect);
    mosquitto_publish_callback_set(m_client, &FleetMqtt::onPublish);
    mosquitto_message_callback_set(m_client, &FleetMqtt::onMessage);

    // The connection is set up without blocking; the name lookup may block.
    rc = mosquitto_connect_async(m_client, bytes(m_settings.host).constData(), m_settings.port, m_settings.keepAliveS);
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(describe(rc));
        return;
    }
    const int fd = mosquitto_socket(m_client);
    m_read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_read, &QSocketNotifier::activated, this, [this]() {
        if (m_client)
            afterLoop(mosquitto_loop_read(m_client, 16), "read");
    });
    m_write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(m_write, &QSocketNotifier::activated, this, [this]() {
        if (m_client)
            afterLoop(mosquitto_loop_write(m_client, 16), "write");
    });
    updateWriteInterest();
    m_misc->start(kMiscMs);
}

void FleetMqtt::afterLoop(int rc, const char *what)
{
    if (!m_lostReason.isEmpty()) {
        lost(m_lostReason);
        return;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(QStringLiteral("%1: %2").arg(QLatin1String(what), describe(rc)));
        return;
    }
    updateWriteInterest();
}

void FleetMqtt::updateWriteInterest()
{
    if (m_client && m_write)
        m_write->setEnabled(mosquitto_want_write(m_client));
}

void FleetMqtt::lost(const QString &reason)
{
    const bool was = m_connected;
    m_connected = false;
    m_lostReason.clear();
    closeClient();
    if (m_finishing) {
        emit sigDisconnected(reason);
        return;
    }
    const int delay = retryDelayMs(m_attempt++, jitter());
    if (was)
        qCWarning(lcFleet).noquote() << "connection to the broker" << m_settings.host << "lost:" << reason
                                     << QStringLiteral("- trying again in %1 s").arg(delay / 1000.0, 0, 'f', 1);
    else if (powerOfTwo(m_attempt))
        // Failed attempts are told at 1, 2, 4, 8, ... so a broker away all
        // day fills no log.
        qCWarning(lcFleet).noquote() << "broker" << QStringLiteral("%1:%2").arg(m_settings.host).arg(m_settings.port)
                                     << "not reached:" << reason << QStringLiteral("(attempt %1; next in %2 s)")
                                        .arg(m_attempt).arg(delay / 1000.0, 0, 'f', 1);
    else
        qCDebug(lcFleet).noquote() << "broker not reached:" << reason << "attempt" << m_attempt;
    if (was)
        emit sigDisconnected(reason);
    m_retry->start(delay);
}

int FleetMqtt::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    if (!m_client || !m_connected)
        return -1;
    int mid = -1;
    const int rc = mosquitto_publish(m_client, &mid, bytes(topic).constData(), payload.size(), payload.constData(),
                                     1, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        qCWarning(lcFleet).noquote() << "publish to" << topic << "refused:" << describe(rc);
        return -1;
    }
    updateWriteInterest();
    return mid;
}

bool FleetMqtt::subscribe(const QString &pattern)
{
    if (!m_client || !m_connected)
        return false;
    const bool ok = mosquitto_subscribe(m_client, nullptr, bytes(pattern).constData(), 1) == MOSQ_ERR_SUCCESS;
    updateWriteInterest();
    return ok;
}

void FleetMqtt::finish()
{
    // Asked again: the DISCONNECT did not get out in time; close at once.
    const bool again = m_finishing;
    m_finishing = true;
    m_retry->stop();
    if (m_client && m_connected && !again) {
        mosquitto_disconnect(m_client);
        updateWriteInterest();
    } else {
        m_connected = false;
        closeClient();
        emit sigDisconnected(QStringLiteral("finished"));
    }
}

void FleetMqtt::onConnect(mosquitto *, void *self, int rc)
{
    auto *me = static_cast<FleetMqtt *>(self);
    if (rc != 0) {
        me->m_lostReason = QStringLiteral("broker refused the connection: ")
                           + QString::fromUtf8(mosquitto_connack_string(rc));
        return;
    }
    me->m_connected = true;
    me->m_attempt = 0;
    qCInfo(lcFleet).noquote() << "connected to the broker" << QStringLiteral("%1:%2").arg(me->m_settings.host).arg(me->m_settings.port)
                              << "as" << me->m_settings.clientId;
    emit me->sigConnected();
}

void FleetMqtt::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *me = static_cast<FleetMqtt *>(self);
    if (me->m_lostReason.isEmpty())
        me->m_lostReason = rc == 0 ? QStringLiteral("disconnected") : describe(rc);
}

void FleetMqtt::onPublish(mosquitto *, void *self, int mid)
{
    emit static_cast<FleetMqtt *>(self)->sigPublished(mid);
}

void FleetMqtt::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    emit static_cast<FleetMqtt *>(self)->sigMessage(QString::fromUtf8(message->topic), payload, message->retain);
}
