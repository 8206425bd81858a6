#include "brokerrig.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>

#include <unistd.h>

BrokerRig::BrokerRig()
{
    m_broker.setProcessChannelMode(QProcess::MergedChannels);
}

BrokerRig::~BrokerRig()
{
    if (m_broker.state() != QProcess::NotRunning) {
        m_broker.kill();
        m_broker.waitForFinished(5000);
    }
}

int BrokerRig::freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

QString BrokerRig::caFile() const
{
    return m_dir.filePath(QStringLiteral("ca.crt"));
}

bool BrokerRig::run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(m_dir.path());
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(" failed: ")
                  + QString::fromUtf8(p.readAll());
        return false;
    }
    return true;
}

bool BrokerRig::prepare(const QStringList &users, bool tls)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    m_port = freePort();
    const QString openssl = QStringLiteral("openssl");
    if (tls) {
        QFile ext(m_dir.filePath(QStringLiteral("server.ext")));
        ext.open(QIODevice::WriteOnly);
        ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n");
        ext.close();
        if (!run(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt",
                           "-days", "2", "-subj", "/CN=Fleet test CA"})
            || !run(openssl, {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
                              "-subj", "/CN=localhost"})
            || !run(openssl, {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                              "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "server.ext"}))
            return false;
    }
    QFile(m_dir.filePath(QStringLiteral("passwd"))).remove();
    for (const QString &u : users) {
        QStringList args{QStringLiteral("-b")};
        if (!QFile::exists(m_dir.filePath(QStringLiteral("passwd"))))
            args.prepend(QStringLiteral("-c"));
        args << QStringLiteral("passwd") << u.section(QLatin1Char(':'), 0, 0) << u.section(QLatin1Char(':'), 1);
        if (!run(QStringLiteral("mosquitto_passwd"), args))
            return false;
    }
    QFile conf(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!conf.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("cannot write the broker's configuration");
        return false;
    }
    QByteArray text;
    // As root the broker would become the user "mosquitto", who cannot read
    // this folder.
    if (::geteuid() == 0)
        text += "user root\n";
    text += "per_listener_settings false\nallow_anonymous false\n";
    text += "password_file " + m_dir.filePath(QStringLiteral("passwd")).toUtf8() + "\n";
    text += "persistence true\npersistence_location " + m_dir.path().toUtf8() + "/\n";
    text += "max_queued_messages 100000\n";
    text += "listener " + QByteArray::number(m_port) + " 127.0.0.1\n";
    if (tls)
        text += "cafile " + caFile().toUtf8() + "\ncertfile " + m_dir.filePath(QStringLiteral("server.crt")).toUtf8()
                + "\nkeyfile " + m_dir.filePath(QStringLiteral("server.key")).toUtf8() + "\n";
    conf.write(text);
    return true;
}

bool BrokerRig::start(int timeoutMs)
{
    m_broker.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), m_dir.filePath(QStringLiteral("mosquitto.conf"))});
    if (!m_broker.waitForStarted(5000)) {
        m_error = QStringLiteral("mosquitto did not start (scripts/install-deps.sh installs it)");
        return false;
    }
    // Its own word, not a test connection: a connection to a port nobody
    // listens on yet can meet itself when the port lies in the ephemeral range.
    const int from = output().size();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs && m_broker.state() != QProcess::NotRunning) {
        m_broker.waitForReadyRead(100);
        if (output().indexOf(QLatin1String(" running"), from) >= 0)
            return true;
    }
    m_error = QStringLiteral("mosquitto is not listening on %1: %2").arg(m_port).arg(output());
    return false;
}

void BrokerRig::stop()
{
    if (m_broker.state() == QProcess::NotRunning)
        return;
    m_broker.terminate();
    if (!m_broker.waitForFinished(10000)) {
        m_broker.kill();
        m_broker.waitForFinished(5000);
    }
    output();
}

bool BrokerRig::isRunning() const
{
    return m_broker.state() != QProcess::NotRunning;
}

QString BrokerRig::output()
{
    if (m_broker.openMode() & QIODevice::ReadOnly)
        m_output += m_broker.readAll();
    return QString::fromUtf8(m_output);
}
