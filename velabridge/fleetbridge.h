#ifndef FLEETBRIDGE_H
#define FLEETBRIDGE_H

#include "fleetconfig.h"
#include "fleetwarnlimiter.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>

#include <deque>

class FleetMqtt;
class QTimer;
class ZQIPC;

// Carries chosen bus events of one panel to the school's MQTT broker and
// chosen commands from there onto the bus. Topics below vela/<panel>/:
// event/<eventid> (out), cmd/<eventid> (in), reply/<id> (out), status and
// info (retained).
class FleetBridge : public QObject
{
    Q_OBJECT
public:
    explicit FleetBridge(const FleetConfig &config, QObject *parent = nullptr);
    ~FleetBridge() override;

    void start();
    // Orderly end: "offline" is published, then the connection closed;
    // sigFinished within `timeoutMs` whatever the broker does.
    void finish(int timeoutMs = 3000);

    // Events and replies waiting for the broker's acknowledgement, and
    // those dropped because the queue was full.
    int queued() const { return int(m_queue.size()); }
    qint64 dropped() const { return m_dropped; }

signals:
    void sigFinished();

private:
    struct Outgoing
    {
        QString topic;
        QByteArray payload;
        int mid = -1; // handed to the connection and not yet acknowledged
    };

    void onBusMessage(const QString &text);
    void onCommand(const QString &topic, const QByteArray &payload, bool retained);
    void onConnected();
    void onDisconnected();
    void onPublished(int mid);
    void enqueue(const QString &topic, QJsonObject body);
    void pump();
    void publishInfo();
    QByteArray infoPayload() const;
    QString topic(const QString &leaf) const;
    void reply(const QString &id, QJsonObject body);
    bool seenBefore(const QString &id);
    void warn(const QString &kind, const QString &text);
    void setLink(const QString &state);

    FleetConfig m_config;
    ZQIPC *m_bus = nullptr;
    FleetMqtt *m_mqtt = nullptr;
    QTimer *m_infoTimer = nullptr;
    QSet<QString> m_events;
    std::deque<Outgoing> m_queue;
    int m_inFlight = 0;
    qint64 m_dropped = 0;
    QString m_link;
    bool m_busUp = false;
    std::deque<QPair<QString, qint64>> m_seenOrder; // command ids, oldest first
    QSet<QString> m_seen;
    QHash<QString, qint64> m_awaiting; // command ids sent on the bus, until answered
    QElapsedTimer m_clock;
    FleetWarnLimiter m_warnings;
    int m_offlineMid = -1;
    bool m_finishing = false;
    bool m_finished = false;
};

#endif // FLEETBRIDGE_H
