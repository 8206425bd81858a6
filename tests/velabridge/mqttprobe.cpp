#include "mqttprobe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <mosquitto.h>

#include <chrono>

MqttProbe::MqttProbe(const QString &clientId, bool keepSession)
{
    mosquitto_lib_init();
    m_client = mosquitto_new(clientId.toUtf8().constData(), !keepSession, this);
    mosquitto_message_callback_set(m_client, &MqttProbe::received);
    mosquitto_connect_callback_set(m_client, &MqttProbe::connected);
    mosquitto_subscribe_callback_set(m_client, &MqttProbe::subscribed);
    mosquitto_reconnect_delay_set(m_client, 1, 1, false);
}

MqttProbe::~MqttProbe()
{
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, false);
    mosquitto_destroy(m_client);
}

qint64 MqttProbe::steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool MqttProbe::connectTo(int port, const QString &caFile, const QString &user, const QString &password)
{
    if (!caFile.isEmpty()
        && mosquitto_tls_set(m_client, caFile.toUtf8().constData(), nullptr, nullptr, nullptr, nullptr) != MOSQ_ERR_SUCCESS)
        return false;
    mosquitto_username_pw_set(m_client, user.toUtf8().constData(), password.toUtf8().constData());
    if (mosquitto_connect(m_client, "localhost", port, 30) != MOSQ_ERR_SUCCESS)
        return false;
    return mosquitto_loop_start(m_client) == MOSQ_ERR_SUCCESS;
}

bool MqttProbe::subscribe(const QString &pattern, int timeoutMs)
{
    int before;
    {
        QMutexLocker lock(&m_mutex);
        m_patterns << pattern;
        before = m_subscribed;
    }
    mosquitto_subscribe(m_client, nullptr, pattern.toUtf8().constData(), 1);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        {
            QMutexLocker lock(&m_mutex);
            if (m_subscribed > before)
                return true;
        }
        QThread::msleep(10);
    }
    return false;
}

void MqttProbe::connected(mosquitto *m, void *self, int rc)
{
    auto *me = static_cast<MqttProbe *>(self);
    if (rc != 0)
        return;
    QStringList patterns;
    {
        QMutexLocker lock(&me->m_mutex);
        patterns = me->m_patterns;
    }
    for (const QString &p : patterns)
        mosquitto_subscribe(m, nullptr, p.toUtf8().constData(), 1);
}

void MqttProbe::subscribed(mosquitto *, void *self, int, int, const int *)
{
    auto *me = static_cast<MqttProbe *>(self);
    QMutexLocker lock(&me->m_mutex);
    ++me->m_subscribed;
}

bool MqttProbe::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    return mosquitto_publish(m_client, nullptr, topic.toUtf8().constData(), payload.size(), payload.constData(), 1,
                             retain) == MOSQ_ERR_SUCCESS;
}

void MqttProbe::received(mosquitto *, void *self, const mosquitto_message *m)
{
    auto *me = static_cast<MqttProbe *>(self);
    Message msg;
    msg.arrivedNs = steadyNs();
    msg.topic = QString::fromUtf8(m->topic);
    msg.payload = QByteArray(static_cast<const char *>(m->payload), m->payloadlen);
    msg.retained = m->retain;
    if (me->onMessage) {
        me->onMessage(msg);
        return;
    }
    QMutexLocker lock(&me->m_mutex);
    me->m_messages.append(msg);
}

QList<MqttProbe::Message> MqttProbe::messages() const
{
    QMutexLocker lock(&m_mutex);
    return m_messages;
}

int MqttProbe::count() const
{
    QMutexLocker lock(&m_mutex);
    return m_messages.size();
}

bool MqttProbe::waitFor(const std::function<bool(const Message &)> &match, int timeoutMs, Message *found,
                        int from) const
{
    QElapsedTimer t;
    t.start();
    int next = from;
    for (;;) {
        const QList<Message> all = messages();
        for (; next < all.size(); ++next) {
            if (match(all.at(next))) {
                if (found)
                    *found = all.at(next);
                return true;
            }
        }
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool MqttProbe::last(const QString &topic, int timeoutMs, Message *found) const
{
    QElapsedTimer t;
    t.start();
    do {
        const QList<Message> all = messages();
        for (int i = all.size() - 1; i >= 0; --i) {
            if (all.at(i).topic == topic) {
                *found = all.at(i);
                return true;
            }
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    } while (t.elapsed() < timeoutMs);
    return false;
}
