#ifndef ZQCLOUDUTILS_H
#define ZQCLOUDUTILS_H

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

// Toolbox of the network centre and of the cloud plug-ins: JSON texts, checks
// of user input, the scrambling used for stored texts and the login stick,
// values from "version.ini", and names of USB volumes. No state; every
// operation is static. The adapter, registry and program operations only
// have meaning on the other desktop platform and answer harmlessly here.
class ZQCloudUtils : public QObject
{
    Q_OBJECT
public:
    // The object of the text (UTF-8), empty when the text is not a JSON object.
    static QJsonObject getJsonObjectFromString(QString text);
    // Indented JSON of the object.
    static QString getStringFromJsonObject(const QJsonObject &object);
    // "[" + each element as an indented object, comma-separated + "]".
    static QString getStringFromJsonArray(const QJsonArray &array);
    static QString getStringBase64(QString text);

    // XORs each code point with the fixed key and replaces `src`. Its own
    // inverse, except that a code point that becomes 0 cuts the text there;
    // stored texts depend on exactly this behaviour.
    static QString encryption(QString &src);
    // Local 8-bit bytes -> Base64 -> letters' case swapped; and back.
    static void commonEncode(QString &src);
    static void commonDecode(QString &src);
    // Swaps the case of every letter of `src` in place and returns it.
    static QString toUpperAndLower(QString &src);
    // The login stick's form: the encoded text wrapped in halves of the
    // encoded key, encoded once more.
    static QString commonUpanLoginEncode(QString text, QString key);
    static QString commonUpanLoginDecode(QString text, QString key);

    static bool isMobile(QString text);
    static bool isEmail(QString text);
    static bool containblank(QString text);

    // Server address by name ("cloudHost", "cloudRest", ...) from the
    // settings file, with a trailing "/"; empty for an unknown name.
    static QString getHostFromIni(QString name);
    // `key` of the ini file at `path` (UTF-8), empty when missing.
    static QString getConfigFromIni(QString path, QString key);
    // "version.ini" in the work directory when the application's "workDir"
    // property is set, else beside the program.
    static QString versionIniPath();
    static QString getTavolixexePath();
    // Name (or display name) of the writable mounted volume at `rootPath`.
    static QString getUsbDiskShowName(QString rootPath);

    static bool getCapsLockState();
    static QJsonArray getAdaptersInfo();
    static int getAdapterState(unsigned long index);
    static QString readReg(void *key, QString path, QString name);
    static QJsonArray getUsbDisk();
    static bool isUsbDisk(QString rootPath);
    static bool networkState();
    static int execProgram(QString program, QString arguments);
    static void setNetCardMetric(int index, int metric, QString name, QString gateway);
    static void disableNetCard(QString name);
    static void netSetting(QString name);
};

#endif
