#ifndef FLEETMQTT_H
#define FLEETMQTT_H

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;
struct mosquitto;
struct mosquitto_message;

// One MQTT connection (libmosquitto) driven by the Qt event loop: no thread
// of its own. It keeps trying to connect, with a growing wait and jitter so
// that many panels losing the same broker do not all come back at the same
// instant. Each attempt uses a fresh client, so nothing the library held
// from the previous connection is sent again behind the caller's back.
class FleetMqtt : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        QString host;
        int port = 8883;
        bool tls = true;
        QString caFile; // empty: the system's certificate folder
        QString certFile;
        QString keyFile;
        QString user;
        QString password;
        QString clientId;
        int keepAliveS = 30;
        QString willTopic; // retained, QoS 1
        QByteArray willPayload;
    };

    explicit FleetMqtt(const Settings &settings, QObject *parent = nullptr);
    ~FleetMqtt() override;

    // First attempt now; later ones by themselves.
    void start();
    bool isConnected() const { return m_connected; }
    // QoS 1. The message id, or -1 when not connected or refused.
    int publish(const QString &topic, const QByteArray &payload, bool retain);
    bool subscribe(const QString &pattern);
    // Orderly end: a DISCONNECT (the broker does not send the last will).
    void finish();

    // Wait before attempt `attempt` (0 = the first after a loss): a window
    // that doubles from 1 s up to 60 s, and a point in its upper half
    // chosen by `random` (0..1).
    static int retryDelayMs(int attempt, double random);

signals:
    void sigConnected();
    void sigDisconnected(const QString &reason);
    void sigPublished(int mid);
    void sigMessage(const QString &topic, const QByteArray &payload, bool retained);

private:
    void attempt();
    void lost(const QString &reason);
    void afterLoop(int rc, const char *what);
    void updateWriteInterest();
    void closeClient();

    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);

    Settings m_settings;
    mosquitto *m_client = nullptr;
    QSocketNotifier *m_read = nullptr;
    QSocketNotifier *m_write = nullptr;
    QTimer *m_misc = nullptr;
    QTimer *m_retry = nullptr;
    int m_attempt = 0;
    bool m_connected = false;
    bool m_finishing = false;
    QString m_lostReason; // set inside a library callback, acted on after it
};

#endif // FLEETMQTT_H
