#ifndef MQTTPROBE_H
#define MQTTPROBE_H

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>

struct mosquitto;

// The fleet's side in the tests and the benchmark: a plain libmosquitto
// client on the library's own thread that keeps what arrives. With
// `keepSession` the broker keeps its subscriptions and queues for it while
// it is away (across a broker restart, with persistence on).
class MqttProbe
{
public:
    struct Message
    {
        QString topic;
        QByteArray payload;
        bool retained = false;
        qint64 arrivedNs = 0; // steady clock
    };

    MqttProbe(const QString &clientId, bool keepSession);
    ~MqttProbe();

    bool connectTo(int port, const QString &caFile, const QString &user, const QString &password);
    // Subscribed again at every (re)connection; true once the broker has
    // confirmed it.
    bool subscribe(const QString &pattern, int timeoutMs = 10000);
    bool publish(const QString &topic, const QByteArray &payload, bool retain = false);

    QList<Message> messages() const;
    int count() const;
    // Waits (running the caller's event loop) for a message from index
    // `from` on that matches; false after the time-out.
    bool waitFor(const std::function<bool(const Message &)> &match, int timeoutMs, Message *found = nullptr,
                 int from = 0) const;
    // The last message on `topic`, waiting for one if there is none yet.
    bool last(const QString &topic, int timeoutMs, Message *found) const;
    // Called on the library's thread for every message, if set.
    std::function<void(const Message &)> onMessage;

    static qint64 steadyNs();

private:
    static void received(mosquitto *, void *self, const struct mosquitto_message *m);
    static void connected(mosquitto *, void *self, int rc);
    static void subscribed(mosquitto *, void *self, int mid, int count, const int *granted);

    mosquitto *m_client = nullptr;
    mutable QMutex m_mutex;
    QList<Message> m_messages;
    QStringList m_patterns;
    int m_subscribed = 0;
};

#endif // MQTTPROBE_H
