#ifndef BROKERRIG_H
#define BROKERRIG_H

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real mosquitto for the fleet bridge's tests and benchmark: on a free
// loopback port, TLS with a throw-away CA made here with openssl, a password
// file made with mosquitto_passwd, and sessions kept across a restart.
class BrokerRig
{
public:
    BrokerRig();
    ~BrokerRig();

    // CA, server certificate (localhost, 127.0.0.1), password file with the
    // given "user:password" entries, configuration. False with error().
    bool prepare(const QStringList &users, bool tls = true);
    bool start(int timeoutMs = 10000);
    // SIGTERM: the broker saves its sessions and ends.
    void stop();
    bool isRunning() const;

    int port() const { return m_port; }
    qint64 pid() const { return m_broker.processId(); }
    QString caFile() const;
    QString folder() const { return m_dir.path(); }
    QString error() const { return m_error; }
    QString output();

    static int freePort();

private:
    bool run(const QString &program, const QStringList &args);

    QTemporaryDir m_dir;
    QProcess m_broker;
    int m_port = 0;
    QString m_error;
    QByteArray m_output;
};

#endif // BROKERRIG_H
