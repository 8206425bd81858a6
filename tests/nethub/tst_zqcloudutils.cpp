// The cloud utilities: JSON texts, the encodings on awkward texts, input
// checks, settings look-ups, and volume names against a real loop-mounted
// volume in a mount namespace of this test's own.
#include "zqcloudutils.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// Why volumes cannot be mounted here; empty when they can.
QString g_noMountReason;

void writeIni(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

bool run(const QString &program, const QStringList &args, QString *error)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(": ")
                 + QString::fromLocal8Bit(p.readAllStandardError()).trimmed() + p.errorString();
        return false;
    }
    return true;
}

} // namespace

class TestZQCloudUtils : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qApp->setProperty("workDir", QVariant()); }
    void jsonTexts();
    void encodingExamples();
    void encodingsRoundTrip_data();
    void encodingsRoundTrip();
    void encryptionCutsAtZero();
    void stickDecodingLooksAtTheKeyLength_data();
    void stickDecodingLooksAtTheKeyLength();
    void isMobile_data();
    void isMobile();
    void isEmail_data();
    void isEmail();
    void getHostFromIni_data();
    void getHostFromIni();
    void getConfigFromIni();
    void getUsbDiskShowName();
};

void TestZQCloudUtils::jsonTexts()
{
    QCOMPARE(ZQCloudUtils::getStringFromJsonArray(QJsonArray()), QStringLiteral("[]"));
    const QJsonObject a{{QStringLiteral("名"), QStringLiteral("ü")}}, b{{QStringLiteral("n"), 2}};
    QCOMPARE(ZQCloudUtils::getStringFromJsonArray(QJsonArray{a, b}),
             QStringLiteral("[{\n    \"名\": \"ü\"\n}\n,{\n    \"n\": 2\n}\n]"));
    QCOMPARE(ZQCloudUtils::getJsonObjectFromString(ZQCloudUtils::getStringFromJsonObject(a)), a);
    QCOMPARE(ZQCloudUtils::getJsonObjectFromString(QStringLiteral("[1, 2]")), QJsonObject());
    QCOMPARE(ZQCloudUtils::getJsonObjectFromString(QStringLiteral("{broken")), QJsonObject());
}

void TestZQCloudUtils::encodingExamples()
{
    QString text = QStringLiteral("abc");
    ZQCloudUtils::commonEncode(text);
    QCOMPARE(text, QStringLiteral("ywjJ"));
    ZQCloudUtils::commonDecode(text);
    QCOMPARE(text, QStringLiteral("abc"));
    QCOMPARE(ZQCloudUtils::getStringBase64(QStringLiteral("你")), QStringLiteral("5L2g"));
    QString mixed = QStringLiteral("aB1äÖ-");
    QCOMPARE(ZQCloudUtils::toUpperAndLower(mixed), QStringLiteral("Ab1Äö-"));
    QCOMPARE(mixed, QStringLiteral("Ab1Äö-"));
    QString one = QStringLiteral("A");
    QCOMPARE(ZQCloudUtils::encryption(one), QString(QChar('A' ^ 'Q')));
    QCOMPARE(one, QString(QChar('A' ^ 'Q')));
}

void TestZQCloudUtils::encodingsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::newRow("empty") << QString() << QStringLiteral("key");
    QTest::newRow("ascii, odd key") << QStringLiteral("teacher01") << QStringLiteral("k3y");
    QTest::newRow("empty key") << QStringLiteral("teacher01") << QString();
    QTest::newRow("non-ASCII") << QStringLiteral("Grüße 你好 Сайн 😀") << QStringLiteral("密钥ключ");
    QTest::newRow("Base64 padding and symbols") << QStringLiteral("a+b/c==?\t\n") << QStringLiteral("+/=");
    QTest::newRow("long") << QStringLiteral("账号 2026/课堂-Ωμ ").repeated(700) << QStringLiteral("long key ").repeated(30);
}

void TestZQCloudUtils::encodingsRoundTrip()
{
    QFETCH(QString, text);
    QFETCH(QString, key);

    QString encoded = text;
    ZQCloudUtils::commonEncode(encoded);
    QVERIFY(text.isEmpty() || encoded != text);
    ZQCloudUtils::commonDecode(encoded);
    QCOMPARE(encoded, text);

    const QString stick = ZQCloudUtils::commonUpanLoginEncode(text, key);
    QCOMPARE(ZQCloudUtils::commonUpanLoginDecode(stick, key), text);

    QString scrambled = text;
    ZQCloudUtils::encryption(scrambled);
    QVERIFY(text.isEmpty() || scrambled != text);
    QCOMPARE(ZQCloudUtils::encryption(scrambled), text);
}

void TestZQCloudUtils::encryptionCutsAtZero()
{
    // "u" is the key's second byte: the second code point becomes 0 and the
    // text ends there, so the second pass cannot restore it.
    QString text = QStringLiteral("xuyz");
    ZQCloudUtils::encryption(text);
    QCOMPARE(text, QString(QChar('x' ^ 'Q')));
    QCOMPARE(ZQCloudUtils::encryption(text), QStringLiteral("x"));
}

void TestZQCloudUtils::stickDecodingLooksAtTheKeyLength_data()
{
    // As docs/nethub.md says: only half the key's length counts.
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("decoded");
    QTest::newRow("the key") << QStringLiteral("abcd") << QStringLiteral("hello");
    QTest::newRow("other letters, same length") << QStringLiteral("wxyz") << QStringLiteral("hello");
    QTest::newRow("one longer, same half") << QStringLiteral("vwxyz") << QStringLiteral("hello");
    QTest::newRow("shorter: a wrong text") << QStringLiteral("xy") << QString();
    QTest::newRow("too long for the text") << QStringLiteral("a much longer key") << QStringLiteral("");
}

void TestZQCloudUtils::stickDecodingLooksAtTheKeyLength()
{
    QFETCH(QString, key);
    QFETCH(QString, decoded);
    const QString stick = ZQCloudUtils::commonUpanLoginEncode(QStringLiteral("hello"), QStringLiteral("abcd"));
    const QString result = ZQCloudUtils::commonUpanLoginDecode(stick, key);
    if (decoded.isNull()) {
        QVERIFY(!result.isEmpty());
        QVERIFY(result != QStringLiteral("hello"));
    } else {
        QCOMPARE(result, decoded);
    }
}

void TestZQCloudUtils::isMobile_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("mobile");
    QTest::newRow("138") << "13812345678" << true;
    QTest::newRow("128") << "12812345678" << false;
    QTest::newRow("10 digits") << "1381234567" << false;
    QTest::newRow("147") << "14712345678" << true;
    QTest::newRow("166") << "16612345678" << true;
    QTest::newRow("199") << "19912345678" << true;
    QTest::newRow("bar of the pattern's classes") << "14|12345678" << false;
    QTest::newRow("Arabic-Indic digits") << QStringLiteral("138١٢٣٤٥٦٧٨") << false;
}

void TestZQCloudUtils::isMobile()
{
    QFETCH(QString, text);
    QFETCH(bool, mobile);
    QCOMPARE(ZQCloudUtils::isMobile(text), mobile);
}

void TestZQCloudUtils::isEmail_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("email");
    QTest::newRow("plain") << "Teacher.One_2-x@school.cn" << true;
    QTest::newRow("two more letters") << "a@school.com.cn" << true;
    QTest::newRow("four letters after the dot") << "a@school.info" << false;
    QTest::newRow("upper case in domain") << "a@School.com" << false;
    QTest::newRow("three labels after the dot") << "a@school.com.cn.de" << false;
    QTest::newRow("blank") << "a b@school.com" << false;
    QTest::newRow("trailing text") << "a@school.com x" << false;
}

void TestZQCloudUtils::isEmail()
{
    QFETCH(QString, text);
    QFETCH(bool, email);
    QCOMPARE(ZQCloudUtils::isEmail(text), email);
    QCOMPARE(ZQCloudUtils::containblank(text), text.contains(QLatin1Char(' ')));
}

void TestZQCloudUtils::getHostFromIni_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("host");
    const QByteArray both("[versionInformation]\ncloudHost=https://a.example\ncloudhost=https://b.example\n");
    QTest::newRow("first key wins") << both << "cloudHost" << "https://a.example/";
    QTest::newRow("only the second key") << QByteArray("[versionInformation]\ncloudhost=https://b.example\n")
                                         << "cloudHost" << "https://b.example/";
    QTest::newRow("UTF-8 value") << QByteArray("[versionInformation]\ncloudPavoHost=https://云.example\n")
                                 << "cloudPavoHost" << QStringLiteral("https://云.example/");
    QTest::newRow("comma in value") << QByteArray("[versionInformation]\ncloudAiWebHost=https://w.example/a,b\n")
                                    << "cloudAiWebHost" << "https://w.example/a,b/";
    QTest::newRow("orgloginhost") << QByteArray("[versionInformation]\norgLoginHost=http://o\n")
                                  << "orgloginhost" << "http://o/";
    QTest::newRow("name with other case") << QByteArray("[versionInformation]\norgLoginHost=http://o\n")
                                          << "orgLoginHost" << "";
    QTest::newRow("unknown name") << both << "otherHost" << "";
    QTest::newRow("no file") << QByteArray() << "cloudHost" << "";
}

void TestZQCloudUtils::getHostFromIni()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, name);
    QFETCH(QString, host);
    QTemporaryDir dir;
    if (!ini.isNull())
        writeIni(dir.filePath(QStringLiteral("version.ini")), ini);
    qApp->setProperty("workDir", dir.path());
    QCOMPARE(ZQCloudUtils::versionIniPath(), dir.filePath(QStringLiteral("version.ini")));
    QCOMPARE(ZQCloudUtils::getHostFromIni(name), host);
}

void TestZQCloudUtils::getConfigFromIni()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.ini"));
    writeIni(path, QByteArray("[UrlInformation]\nlogincodeUrl=https://登录.example/?a=1\n"));
    QCOMPARE(ZQCloudUtils::getConfigFromIni(path, QStringLiteral("/UrlInformation/logincodeUrl")),
             QStringLiteral("https://登录.example/?a=1"));
    QCOMPARE(ZQCloudUtils::getConfigFromIni(path, QStringLiteral("/UrlInformation/other")), QString());
    QCOMPARE(ZQCloudUtils::getConfigFromIni(dir.filePath(QStringLiteral("none.ini")), QStringLiteral("/a/b")), QString());
    QCOMPARE(ZQCloudUtils::versionIniPath(), QCoreApplication::applicationDirPath() + QStringLiteral("/version.ini"));
}

void TestZQCloudUtils::getUsbDiskShowName()
{
    if (!g_noMountReason.isEmpty())
        QSKIP(qPrintable(g_noMountReason));
    const QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.ext2"),
                                                        {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (mkfs.isEmpty())
        QSKIP("mkfs.ext2 (e2fsprogs) is not installed");

    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("stick.img"));
    const QString writable = dir.filePath(QStringLiteral("stick"));
    const QString readOnly = dir.filePath(QStringLiteral("stick-ro"));
    QVERIFY(QDir().mkpath(writable) && QDir().mkpath(readOnly));
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(4 * 1024 * 1024));
    file.close();
    QString error;
    QVERIFY2(run(mkfs, {QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("-L"), QStringLiteral("VELASTICK"), image},
                 &error), qPrintable(error));
    if (!run(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("loop"), image, writable}, &error))
        QSKIP(qPrintable(QStringLiteral("cannot loop-mount a volume here: ") + error));
    const bool readOnlyMounted = run(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("loop,ro"), image, readOnly}, &error);

    // The name is the volume label where udev lists labels; without
    // /dev/disk/by-label the display name, the mount point, stands in.
    const QString expected = QFile::exists(QStringLiteral("/dev/disk/by-label/VELASTICK")) ? QStringLiteral("VELASTICK")
                                                                                           : writable;
    QCOMPARE(ZQCloudUtils::getUsbDiskShowName(writable), expected);
    if (readOnlyMounted)
        QCOMPARE(ZQCloudUtils::getUsbDiskShowName(readOnly), QString());
    QCOMPARE(ZQCloudUtils::getUsbDiskShowName(dir.path()), QString());
    QCOMPARE(ZQCloudUtils::getUsbDiskShowName(writable + QLatin1Char('/')), QString());

    run(QStringLiteral("umount"), {readOnly}, &error);
    QVERIFY2(run(QStringLiteral("umount"), {writable}, &error), qPrintable(error));
    QCOMPARE(ZQCloudUtils::getUsbDiskShowName(writable), QString());
}

// Mounts made by the test live in a mount namespace of its own, so they
// vanish with the process whatever happens; it must be entered before any
// thread starts.
int main(int argc, char **argv)
{
    if (geteuid() != 0)
        g_noMountReason = QStringLiteral("mounting a test volume needs root");
    else if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        g_noMountReason = QStringLiteral("no private mount namespace: ") + QString::fromLocal8Bit(strerror(errno));
    QCoreApplication app(argc, argv);
    TestZQCloudUtils test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_zqcloudutils.moc"
