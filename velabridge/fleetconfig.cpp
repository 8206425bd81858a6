#include "fleetconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSettings>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

const char *const FleetConfig::kLinkEvent = "SERIAL_LINK_STATE";

namespace {

const int kMaxQueue = 100000;

QStringList listValue(const QSettings &ini, const QString &key, const QStringList &fallback)
{
    if (!ini.contains(key))
        return fallback;
    QStringList out;
    for (const QString &v : ini.value(key).toStringList()) {
        const QString t = v.trimmed();
        if (!t.isEmpty())
            out << t;
    }
    return out;
}

QString pathValue(const QSettings &ini, const QString &key, const QDir &base)
{
    const QString v = ini.value(key).toString().trimmed();
    return v.isEmpty() ? QString() : QDir::cleanPath(base.absoluteFilePath(v));
}

bool isLoopback(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress a(host);
    return !a.isNull() && a.isLoopback();
}

bool panelName(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_.-]{1,64}$"));
    return plain.match(name).hasMatch();
}

} // namespace

QStringList FleetConfig::defaultEvents()
{
    return {
        // Smart-screen state (SmSc.xml)
        QStringLiteral("SMSC_SCREEN_STATE"), QStringLiteral("SMSC_BRIGHTNESS"), QStringLiteral("SMSC_AMBIENT_LIGHT"),
        QStringLiteral("SMSC_SOURCE_LIST"), QStringLiteral("SMSC_SPLIT_SCREEN"), QStringLiteral("SMSC_THEME"),
        QStringLiteral("SMSC_PRESENCE"), QStringLiteral("SMSC_WIFI_NAME"),
        // Channel and backlight as the board reports them (control.xml)
        QStringLiteral("SWITCH_CHANNEL"), QStringLiteral("SWITCH_CHANNEL_RESULT"), QStringLiteral("SWITCH_ALL_CHANNEL"),
        QStringLiteral("GET_SIGNAL_STATUS"), QStringLiteral("SET_BACKLIGHT"),
        // Hardware information replies
        QStringLiteral("GET_MAINBOARD_VERSION"), QStringLiteral("GET_DEVICE_SERIAL"),
        QStringLiteral("GET_ANDROID_MAC_ADRESS"), QStringLiteral("GET_SCREEN_MONITORS_RESOLUTION"),
        // Equipment errors, and the serial link's state
        QStringLiteral("UPDATE_EQUIPMENT_ERROR_INFO"), QLatin1String(kLinkEvent)};
}

bool FleetConfig::isPrivateFile(const QString &path, QString *why)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = QStringLiteral("%1 is not a readable file").arg(path);
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        *why = QStringLiteral("%1 belongs to another user").arg(path);
        return false;
    }
    if (st.st_mode & (S_IRWXG | S_IRWXO)) {
        *why = QStringLiteral("%1 can be read or changed by others (chmod 600 it)").arg(path);
        return false;
    }
    return true;
}

bool FleetConfig::load(const QString &iniPath, FleetConfig *config, QString *error, QStringList *warnings,
                       const QString &machineIdFile)
{
    FleetConfig &c = *config;
    QSettings ini(iniPath, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("Fleet"));
    const QString broker = ini.value(QStringLiteral("Broker")).toString().trimmed();
    c.configured = !broker.isEmpty();
    if (!c.configured)
        return true;
    const QDir base = QFileInfo(iniPath).absoluteDir();

    // Where the broker is, and whether the way there may be plain.
    const QUrl url(broker, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("mqtts") && scheme != QLatin1String("mqtt"))) {
        *error = QStringLiteral("Broker \"%1\" is not an mqtts://HOST[:PORT] or mqtt://HOST[:PORT] address").arg(broker);
        return false;
    }
    if (!url.userInfo().isEmpty()) {
        // version.ini is readable by every user of the panel.
        *error = QStringLiteral("Broker must not hold a user or password; name a PasswordFile instead");
        return false;
    }
    c.tls = scheme == QLatin1String("mqtts");
    c.host = url.host();
    c.port = url.port(c.tls ? 8883 : 1883);
    if (!c.tls && !isLoopback(c.host) && !ini.value(QStringLiteral("AllowPlain")).toBool()) {
        *error = QStringLiteral("plain mqtt:// to %1 would carry the panel's commands and credentials "
                                "unencrypted; use mqtts://, or set AllowPlain=1 for a network you trust").arg(c.host);
        return false;
    }

    // Who the bridge is to the broker.
    c.caFile = pathValue(ini, QStringLiteral("CaFile"), base);
    c.certFile = pathValue(ini, QStringLiteral("CertFile"), base);
    c.keyFile = pathValue(ini, QStringLiteral("KeyFile"), base);
    if (c.certFile.isEmpty() != c.keyFile.isEmpty()) {
        *error = QStringLiteral("CertFile and KeyFile go together");
        return false;
    }
    if (!c.tls && (!c.certFile.isEmpty() || !c.caFile.isEmpty())) {
        *error = QStringLiteral("CaFile, CertFile and KeyFile need an mqtts:// broker");
        return false;
    }
    for (const QString &f : {c.caFile, c.certFile}) {
        if (!f.isEmpty() && !QFileInfo(f).isReadable()) {
            *error = QStringLiteral("%1 cannot be read").arg(f);
            return false;
        }
    }
    QString why;
    if (!c.keyFile.isEmpty() && !isPrivateFile(c.keyFile, &why)) {
        *error = QStringLiteral("KeyFile refused: ") + why;
        return false;
    }
    const QString passwordFile = pathValue(ini, QStringLiteral("PasswordFile"), base);
    if (!passwordFile.isEmpty()) {
        if (!isPrivateFile(passwordFile, &why)) {
            *error = QStringLiteral("PasswordFile refused: ") + why;
            return false;
        }
        QFile f(passwordFile);
        if (!f.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("PasswordFile %1 cannot be read").arg(passwordFile);
            return false;
        }
        // First line the user name, second line the password.
        const QList<QByteArray> lines = f.readAll().split('\n');
        c.user = QString::fromUtf8(lines.value(0)).remove(QLatin1Char('\r'));
        c.password = QString::fromUtf8(lines.value(1)).remove(QLatin1Char('\r'));
        if (c.user.isEmpty()) {
            *error = QStringLiteral("PasswordFile %1 has no user name on its first line").arg(passwordFile);
            return false;
        }
    }

    // The panel's name in the topics.
    c.panel = ini.value(QStringLiteral("Panel")).toString().trimmed();
    if (c.panel.isEmpty()) {
        QFile id(machineIdFile);
        if (id.open(QIODevice::ReadOnly))
            c.panel = QString::fromLatin1(id.readLine()).trimmed();
    }
    if (!panelName(c.panel)) {
        *error = QStringLiteral("Panel \"%1\" is empty or not a plain name (letters, digits, '.', '_', '-'); "
                                "no machine id in %2 either").arg(c.panel, machineIdFile);
        return false;
    }
    c.clientId = ini.value(QStringLiteral("ClientId"), QStringLiteral("vela-") + c.panel).toString();

    // What crosses.
    c.events.clear();
    for (const QString &e : listValue(ini, QStringLiteral("Events"), defaultEvents())) {
        if (FleetCommandPolicy::isPlainName(e))
            c.events << e;
        else
            *warnings << QStringLiteral("Events: \"%1\" is not a plain event name; left out").arg(e);
    }
    c.sources.clear();
    for (const QString &s : listValue(ini, QStringLiteral("Sources"), {QStringLiteral("ID_APP_VELACENTER")})) {
        if (FleetCommandPolicy::isPlainName(s))
            c.sources << s;
        else
            *warnings << QStringLiteral("Sources: \"%1\" is not a plain identifier; left out").arg(s);
    }
    c.commands = FleetCommandPolicy();
    for (const QString &entry : listValue(ini, QStringLiteral("Commands"), {})) {
        FleetCommandPolicy::Rule rule;
        QString why;
        if (FleetCommandPolicy::parseRule(entry, &rule, &why))
            c.commands.addRule(rule);
        else
            *warnings << QStringLiteral("Commands: ") + why + QStringLiteral("; left out");
    }
    c.queueLimit = qBound(1, ini.value(QStringLiteral("QueueLimit"), 1000).toInt(), kMaxQueue);
    c.keepAliveS = qBound(5, ini.value(QStringLiteral("KeepAlive"), 30).toInt(), 3600);
    c.infoIntervalS = qBound(5, ini.value(QStringLiteral("InfoInterval"), 60).toInt(), 86400);
    return true;
}
