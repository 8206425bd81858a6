// Registry look-ups on real INI files.
#include "cuntility.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Writes an "apps.ini"-style file with the given lines below [UOSAppInfo].
QString writeRegistry(const QTemporaryDir &dir, const QByteArray &body, const QString &name = QStringLiteral("apps.ini"))
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    f.write(body);
    return path;
}

QByteArray compact(const QJsonArray &a)
{
    return QJsonDocument(a).toJson(QJsonDocument::Compact);
}

QByteArray compact(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

class TestCUntility : public QObject
{
    Q_OBJECT

private slots:
    void allEntries_data();
    void allEntries();
    void entryByName_data();
    void entryByName();
    void missingFileOrGroup();
    void pathLookupsBesideProgram_data();
    void pathLookupsBesideProgram();
};

void TestCUntility::allEntries_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("seven fields")
        << QByteArray("[UOSAppInfo]\nclock=3|ID_CLOCK|7|Clock|clock/bin/clock.sh|ID_NULL|Clock\n")
        << QByteArray(R"([{"appID":7,"appPath":"clock/bin/clock.sh","enName":"Clock","eventID":"ID_CLOCK","idString":"ID_NULL","index":3,"name":"Clock"}])");
    QTest::newRow("six fields skipped")
        << QByteArray("[UOSAppInfo]\na=1|ID_A|2|A|a.sh|ID_NULL\nb=2|ID_B|3|B|b.sh|ID_NULL|Bee\n")
        << QByteArray(R"([{"appID":3,"appPath":"b.sh","enName":"B","eventID":"ID_B","idString":"ID_NULL","index":2,"name":"Bee"}])");
    QTest::newRow("eight fields keep seven")
        << QByteArray("[UOSAppInfo]\na=1|ID_A|2|A|a.sh|ID_A|Ay|extra\n")
        << QByteArray(R"([{"appID":2,"appPath":"a.sh","enName":"A","eventID":"ID_A","idString":"ID_A","index":1,"name":"Ay"}])");
    QTest::newRow("sorted by key, not by file order")
        << QByteArray("[UOSAppInfo]\nzeta=1|ID_Z|1|Z|z.sh|ID_NULL|Z\nalpha=2|ID_A|2|A|a.sh|ID_NULL|A\n"
                      "mid=3|ID_M|3|M|m.sh|ID_NULL|M\n")
        << QByteArray(R"([{"appID":2,"appPath":"a.sh","enName":"A","eventID":"ID_A","idString":"ID_NULL","index":2,"name":"A"},)"
                      R"({"appID":3,"appPath":"m.sh","enName":"M","eventID":"ID_M","idString":"ID_NULL","index":3,"name":"M"},)"
                      R"({"appID":1,"appPath":"z.sh","enName":"Z","eventID":"ID_Z","idString":"ID_NULL","index":1,"name":"Z"}])");
    QTest::newRow("non-numbers read as 0, empty parts kept")
        << QByteArray("[UOSAppInfo]\nx=x|ID_X|seven|X||ID_NULL|\n")
        << QByteArray(R"([{"appID":0,"appPath":"","enName":"X","eventID":"ID_X","idString":"ID_NULL","index":0,"name":""}])");
    QTest::newRow("UTF-8 display name")
        << QByteArray("[UOSAppInfo]\nw=1|ID_WB|9|VelaTouchPro|wb/VelaTouchPro.sh|ID_WB|\xe7\x99\xbd\xe6\x9d\xbf\n")
        << QByteArray(R"([{"appID":9,"appPath":"wb/VelaTouchPro.sh","enName":"VelaTouchPro","eventID":"ID_WB","idString":"ID_WB","index":1,"name":")"
                      "\xe7\x99\xbd\xe6\x9d\xbf" R"("}])");
    // The INI reader splits unquoted commas into a list; the value is still one text.
    QTest::newRow("comma inside a value stays one text")
        << QByteArray("[UOSAppInfo]\nc=4|ID_C|5|C|c.sh|ID_NULL|Tea,Coffee\n")
        << QByteArray(R"([{"appID":5,"appPath":"c.sh","enName":"C","eventID":"ID_C","idString":"ID_NULL","index":4,"name":"Tea,Coffee"}])");
    QTest::newRow("quoted value keeps its spaces")
        << QByteArray("[UOSAppInfo]\nc=\"4|ID_C|5|C|c.sh|ID_NULL|Tea, Coffee\"\n")
        << QByteArray(R"([{"appID":5,"appPath":"c.sh","enName":"C","eventID":"ID_C","idString":"ID_NULL","index":4,"name":"Tea, Coffee"}])");
    QTest::newRow("other groups ignored")
        << QByteArray("[Other]\na=1|ID_A|2|A|a.sh|ID_NULL|A\n[UOSAppInfo]\n")
        << QByteArray("[]");
}

void TestCUntility::allEntries()
{
    QFETCH(QByteArray, ini);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    const QString file = writeRegistry(dir, ini);
    QCOMPARE(compact(CUntility::getIniValuesByGroup(file, QStringLiteral("UOSAppInfo"))), expected);
}

void TestCUntility::entryByName_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("enName");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray reg("[UOSAppInfo]\n"
                         "k2=2|ID_B|2|Dup|second/dup.sh|ID_NULL|Second\n"
                         "k1=1|ID_A|1|Dup|first/dup.sh|ID_NULL|First\n"
                         "k3=3|ID_C|3|Short|short.sh|ID_NULL\n"
                         "k4=4|ID_D|4|Clock|clock/bin/clock.sh|ID_NULL|Clock\n");
    QTest::newRow("plain match") << reg << QStringLiteral("Clock")
                                 << QByteArray(R"({"appPath":"clock/bin/clock.sh","enName":"Clock","name":"Clock"})");
    QTest::newRow("duplicate: first key in sort order wins")
        << reg << QStringLiteral("Dup") << QByteArray(R"({"appPath":"first/dup.sh","enName":"Dup","name":"First"})");
    QTest::newRow("short value never matches") << reg << QStringLiteral("Short") << QByteArray("{}");
    QTest::newRow("case-sensitive") << reg << QStringLiteral("clock") << QByteArray("{}");
    QTest::newRow("no such name") << reg << QStringLiteral("Nope") << QByteArray("{}");
}

void TestCUntility::entryByName()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, enName);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    const QString file = writeRegistry(dir, ini);
    QCOMPARE(compact(CUntility::getIniValuesByGroup(file, QStringLiteral("UOSAppInfo"), enName)), expected);
}

void TestCUntility::missingFileOrGroup()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("none.ini"));
    QVERIFY(CUntility::getIniValuesByGroup(missing, QStringLiteral("UOSAppInfo")).isEmpty());
    QVERIFY(CUntility::getIniValuesByGroup(missing, QStringLiteral("UOSAppInfo"), QStringLiteral("Clock")).isEmpty());
    QVERIFY2(!QFile::exists(missing), "a look-up must not create the registry");
    const QString file = writeRegistry(dir, "[UOSAppInfo]\na=1|ID_A|2|A|a.sh|ID_NULL|A\n");
    QVERIFY(CUntility::getIniValuesByGroup(file, QStringLiteral("Nothing")).isEmpty());
}

// The three path look-ups read the registry beside the running program, so
// they are checked in a copy of this program placed next to a test registry.
void TestCUntility::pathLookupsBesideProgram_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("expected");

    QTest::newRow("both entries")
        << QByteArray("[UOSAppInfo]\n"
                      "l=1|ID_LR|4|LessonRaterPro|lessonrater/bin/LessonRaterPro.sh|ID_NULL|Rater\n"
                      "v=2|ID_VC|5|VelarClass|velarclass/VelarClass.sh|ID_NULL|Class\n")
        << QStringLiteral("app=/opt/apps/;true\nrater=/opt/apps/lessonrater/bin/LessonRaterPro.sh;true\n"
                          "class=/opt/apps/velarclass/VelarClass.sh;true\n");
    QTest::newRow("no entries")
        << QByteArray("[UOSAppInfo]\nx=1|ID_X|4|Other|other.sh|ID_NULL|Other\n")
        << QStringLiteral("app=/opt/apps/;true\nrater=/opt/apps/;true\nclass=/opt/apps/;true\n");
    QTest::newRow("no registry") << QByteArray()
                                 << QStringLiteral("app=/opt/apps/;true\nrater=/opt/apps/;true\nclass=/opt/apps/;true\n");
}

void TestCUntility::pathLookupsBesideProgram()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("registryprobe"));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
    QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    if (!ini.isNull())
        QVERIFY(!writeRegistry(dir, ini).isEmpty());
    QProcess probe;
    probe.start(copy, {QStringLiteral("--print-paths")});
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(probe.readAllStandardOutput()), expected);
}

static int printPaths()
{
    QString app = QStringLiteral("unset"), rater = app, klass = app;
    const bool a = CUntility::readApplicationPath(app, QStringLiteral("VelaCamera.exe"), QStringLiteral("VelaCamera"));
    const bool r = CUntility::readLessonRaterPro(rater, QString(), QString());
    const bool c = CUntility::readVelarClass(klass, QStringLiteral("VelarClass.exe"), QStringLiteral("VelarClass"));
    auto line = [](const char *what, const QString &path, bool ok) {
        return QStringLiteral("%1=%2;%3\n").arg(QLatin1String(what), path, ok ? QStringLiteral("true") : QStringLiteral("false"));
    };
    QTextStream(stdout) << line("app", app, a) << line("rater", rater, r) << line("class", klass, c);
    return 0;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--print-paths") == 0)
        return printPaths();
    TestCUntility test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cuntility.moc"
