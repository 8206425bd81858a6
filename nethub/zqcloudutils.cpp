#include "zqcloudutils.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSettings>
#include <QStorageInfo>
#include <QVector>

namespace {

const char kScrambleKey[] = "QuillMarshPod";
const int kScrambleKeyLength = 13;

struct HostKeys
{
    const char *name;
    const char *firstKey;
    const char *secondKey;
};

const HostKeys kHostTable[] = {
    {"cloudHost", "/versionInformation/cloudHost", "/versionInformation/cloudhost"},
    {"cloudRest", "/versionInformation/cloudRest", "/versionInformation/cloudrest"},
    {"cloudPavoHost", "/versionInformation/cloudPavoHost", "/versionInformation/cloudpavohost"},
    {"cloudAiWebHost", "/versionInformation/cloudAiWebHost", "/versionInformation/cloudaiwebhost"},
    {"cloudAiApiHost", "/versionInformation/cloudAiApiHost", "/versionInformation/cloudaiapihost"},
    {"orgloginhost", "/versionInformation/orgLoginHost", "/versionInformation/orgloginhost"},
    {"pkeduhost", "/versionInformation/pkEduHost", "/versionInformation/pkeduhost"},
};

// The ini reader splits a value at unquoted commas into a list; a host or a
// setting with a comma is still one text.
QString iniText(const QSettings &settings, const QString &key)
{
    const QVariant value = settings.value(key);
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

} // namespace

QJsonObject ZQCloudUtils::getJsonObjectFromString(QString text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

QString ZQCloudUtils::getStringFromJsonObject(const QJsonObject &object)
{
    const QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Indented);
    return QString::fromUtf8(json.constData());
}

QString ZQCloudUtils::getStringFromJsonArray(const QJsonArray &array)
{
    QString text = QStringLiteral("[");
    for (const QJsonValue &element : array)
        text += getStringFromJsonObject(element.toObject()) + QLatin1Char(',');
    if (text.endsWith(QLatin1Char(',')))
        text.chop(1);
    return text + QLatin1Char(']');
}

QString ZQCloudUtils::getStringBase64(QString text)
{
    return QString::fromLatin1(text.toUtf8().toBase64());
}

QString ZQCloudUtils::encryption(QString &src)
{
    QVector<uint> codePoints = src.toUcs4();
    for (int i = 0; i < codePoints.size(); ++i)
        codePoints[i] ^= uchar(kScrambleKey[i % kScrambleKeyLength]);
    const QByteArray utf8 = QString::fromUcs4(codePoints.constData(), codePoints.size()).toUtf8();
    src = QString::fromUtf8(utf8.constData());
    return src;
}

void ZQCloudUtils::commonEncode(QString &src)
{
    src = QString::fromLatin1(src.toLocal8Bit().toBase64());
    toUpperAndLower(src);
}

void ZQCloudUtils::commonDecode(QString &src)
{
    toUpperAndLower(src);
    const QByteArray bytes = QByteArray::fromBase64(src.toLocal8Bit());
    src = QString::fromLocal8Bit(bytes.constData());
}

QString ZQCloudUtils::toUpperAndLower(QString &src)
{
    for (QChar &c : src) {
        if (c.isUpper())
            c = c.toLower();
        else if (c.isLower())
            c = c.toUpper();
    }
    return src;
}

QString ZQCloudUtils::commonUpanLoginEncode(QString text, QString key)
{
    commonEncode(text);
    commonEncode(key);
    const int half = key.size() / 2;
    QString wrapped = key.left(half) + text + key.right(half);
    commonEncode(wrapped);
    return wrapped;
}

QString ZQCloudUtils::commonUpanLoginDecode(QString text, QString key)
{
    commonDecode(text);
    commonEncode(key);
    const int half = key.size() / 2;
    // A text too short for the key's halves (a wrong key) decodes to nothing
    // rather than to whatever the cut would leave.
    QString inner = text.mid(half, qMax(0, text.size() - 2 * half));
    commonDecode(inner);
    return inner;
}

bool ZQCloudUtils::isMobile(QString text)
{
    if (text.size() != 11)
        return false;
    // The character classes of the pattern also admit "|", and \d admits any
    // script's digits; a mobile number is ASCII digits only.
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    static const QRegularExpression pattern(QStringLiteral(
        "^(13[0-9]|14[1|4|5|6|7|8]|15[0|1|2|3|5|6|7|8|9]|166|17[0|1|3|5|6|7|8]|18[0-9]|19[8|9])\\d{8}$"));
    return pattern.match(text).hasMatch();
}

bool ZQCloudUtils::isEmail(QString text)
{
    // Anchored by hand: QRegularExpression::anchoredPattern needs Qt 5.12.
    static const QRegularExpression pattern(QStringLiteral(
        "\\A(?:([0-9A-Za-z\\-_\\.]+)@([0-9a-z]+\\.[a-z]{2,3}(\\.[a-z]{2})?))\\z"));
    return pattern.match(text).hasMatch();
}

bool ZQCloudUtils::containblank(QString text)
{
    return text.contains(QLatin1Char(' '));
}

QString ZQCloudUtils::versionIniPath()
{
    const QString fileName = QStringLiteral("version.ini");
    const QString workDir = qApp ? qApp->property("workDir").toString() : QString();
    if (!workDir.isEmpty())
        return workDir + QLatin1Char('/') + fileName;
    const QString appDir = qApp ? QCoreApplication::applicationDirPath() : QString();
    if (appDir.isEmpty())
        return fileName;
    return appDir + QLatin1Char('/') + fileName;
}

QString ZQCloudUtils::getHostFromIni(QString name)
{
    QSettings settings(versionIniPath(), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    QString host;
    for (const HostKeys &row : kHostTable) {
        if (name != QLatin1String(row.name))
            continue;
        host = iniText(settings, QLatin1String(row.firstKey));
        if (host.isEmpty())
            host = iniText(settings, QLatin1String(row.secondKey));
        break;
    }
    if (!host.isEmpty() && !host.endsWith(QLatin1Char('/')))
        host += QLatin1Char('/');
    return host;
}

QString ZQCloudUtils::getConfigFromIni(QString path, QString key)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    return iniText(settings, key);
}

QString ZQCloudUtils::getTavolixexePath()
{
    QSettings settings(QSettings::NativeFormat, QSettings::SystemScope,
                       QStringLiteral("Tavolix"), QStringLiteral("Tavolix"));
    return settings.value(QStringLiteral("InstallPath")).toString() + QLatin1Char('\\');
}

QString ZQCloudUtils::getUsbDiskShowName(QString rootPath)
{
    const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &volume : volumes) {
        if (!volume.isValid() || !volume.isReady() || volume.isReadOnly() || volume.rootPath() != rootPath)
            continue;
        QString name = volume.name();
        if (name.isEmpty())
            name = volume.displayName();
        if (volume.bytesTotal() > 0)
            return name;
    }
    return QString();
}

bool ZQCloudUtils::getCapsLockState()
{
    return false;
}

QJsonArray ZQCloudUtils::getAdaptersInfo()
{
    return QJsonArray();
}

int ZQCloudUtils::getAdapterState(unsigned long)
{
    return 0;
}

QString ZQCloudUtils::readReg(void *, QString, QString)
{
    return QString();
}

QJsonArray ZQCloudUtils::getUsbDisk()
{
    return QJsonArray();
}

bool ZQCloudUtils::isUsbDisk(QString)
{
    return false;
}

bool ZQCloudUtils::networkState()
{
    return false;
}

int ZQCloudUtils::execProgram(QString, QString)
{
    return 0;
}

void ZQCloudUtils::setNetCardMetric(int, int, QString, QString) {}

void ZQCloudUtils::disableNetCard(QString) {}

void ZQCloudUtils::netSetting(QString) {}
