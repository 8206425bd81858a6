#include "businesslogging.h"
#include "centerlogging.h"
#include "desktoplogging.h"
#include "frameworklogging.h"
#include "logging.h"
#include "nethublogging.h"
#include "serialhublogging.h"
#include "serialtestlogging.h"
#include "sharedkitlogging.h"
#include "strokeacclogging.h"
#include "zqipclogging.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using CategoryOf = const QLoggingCategory &(*)();

// Every component's category this test can link, by its name.
const QList<QPair<const char *, CategoryOf>> kCategories = {
    {"vela.ipc", lcZqIpc},
    {"vela.serial", lcSerial},
    {"vela.dispatch", lcDispatch},
    {"vela.core", lcCore},
    {"vela.tables", lcTables},
    {"vela.business.shortcut", lcShortcut},
    {"vela.business.disc", lcDisc},
    {"vela.business.centralcontrol", lcCentralControl},
    {"vela.business.pretreatment", lcPretreatment},
    {"vela.business.customchannel", lcCustomChannel},
    {"vela.business.writeacceleration", lcWriteAcceleration},
    {"vela.business.smsc", lcSmsc},
    {"vela.desktop", lcDesktop},
    {"vela.localoperator", lcLocalOperator},
    {"vela.sharedkit", lcSharedKit},
    {"vela.nethub", lcNetHub},
    {"vela.serialtest", lcSerialTest},
    {"vela.strokeacc", lcStrokeAcc},
};

// The categories whose debug lines are on.
QStringList debugOn()
{
    QStringList on;
    for (const auto &c : kCategories)
        if (c.second().isDebugEnabled())
            on << QLatin1String(c.first);
    return on;
}

// A copy of this program (see main) writes one fatal record and dies of it.
const char kFatalText[] = "fatal for the record";
const int kFatalLine = __LINE__ + 3;
[[noreturn]] void dieWithRecord()
{
    qFatal("%s", kFatalText);
}

// Every file below `dir` with its content, links not followed.
QMap<QString, QByteArray> filesBelow(const QString &dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        files.insert(path, it.fileInfo().isFile() && f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<dir>"));
    }
    return files;
}

// Sets an environment variable for one scope.
struct ScopedEnv
{
    ScopedEnv(const char *name, const QByteArray &value) : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

// Standard error of this process into a file for one scope.
struct StderrCapture
{
    explicit StderrCapture(const QString &path)
    {
        std::fflush(stderr);
        m_saved = ::dup(2);
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture()
    {
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
    }
    int m_saved;
};

} // namespace

Q_DECLARE_METATYPE(CategoryOf)

// The logger's table: which level words reach which file, and the record form.
class TestLogging : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void levelFilter_data();
    void levelFilter();
    void recordForm_data();
    void recordForm();
    void levelReadAnewForEveryMessage();
    void logDirFollowsTempLocation();
    void clearLogsEmptiesOwnDirectory();
    void levelChangeInTheSameFile();
    void filesAreBounded();
    void categoryLevels_data();
    void categoryLevels();
    void levelTurnsTracesOn_data();
    void levelTurnsTracesOn();
    void errorRecordNamesItsSource();
    void unsafeLogFolder_data();
    void unsafeLogFolder();

private:
    void writeConfig(const QString &text);
    QString readLog(const QString &word) const;

    QTemporaryDir m_dir;
    QString m_app;
    QString m_config;
};

void TestLogging::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A name of our own keeps parallel runs out of each other's folders.
    m_app = QStringLiteral("VelaLogTest%1").arg(QCoreApplication::applicationPid());
    m_config = m_dir.filePath(QStringLiteral("version.ini"));
}

void TestLogging::cleanup()
{
    Logging::clearLogs(m_app);
}

void TestLogging::cleanupTestCase()
{
    QDir(QDir::cleanPath(Logging::logDir(m_app) + QStringLiteral("/.."))).removeRecursively();
}

void TestLogging::writeConfig(const QString &text)
{
    // A fresh file each time: QSettings keeps a parsed copy of a file that it
    // cannot tell from a rewrite within the same millisecond and size.
    static int n = 0;
    m_config = m_dir.filePath(QStringLiteral("version-%1.ini").arg(++n));
    QFile file(m_config);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
}

QString TestLogging::readLog(const QString &word) const
{
    QFile file(Logging::logDir(m_app) + QLatin1Char('/') + word + QStringLiteral(".txt"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

void TestLogging::levelFilter_data()
{
    QTest::addColumn<QString>("config");
    QTest::addColumn<QStringList>("written");
    const QStringList all = {"debug", "warn", "critical", "error", "info"};
    QTest::newRow("no level key") << "[Log]\nNeedLog=1\n" << QStringList{"error"};
    QTest::newRow("no file content") << "" << QStringList{"error"};
    QTest::newRow("error") << "[Log]\nLevel=error\n" << QStringList{"error"};
    QTest::newRow("debug") << "[Log]\nLevel=debug\n" << QStringList{"debug"};
    QTest::newRow("warn") << "[Log]\nLevel=warn\n" << QStringList{"warn"};
    QTest::newRow("info") << "[Log]\nLevel=info\n" << QStringList{"info"};
    QTest::newRow("all") << "[Log]\nLevel=all\n" << all;
    QTest::newRow("DEBUG upper case") << "[Log]\nLevel=DEBUG\n" << QStringList{};
    QTest::newRow("ALL upper case") << "[Log]\nLevel=ALL\n" << QStringList{};
    QTest::newRow("unknown word") << "[Log]\nLevel=verbose\n" << QStringList{};
}

void TestLogging::levelFilter()
{
    QFETCH(QString, config);
    QFETCH(QStringList, written);
    writeConfig(config);

    const QMessageLogContext context("source.cpp", 42, "fn", "default");
    const QList<QPair<QtMsgType, QString>> messages = {
        {QtDebugMsg, "debug"}, {QtWarningMsg, "warn"}, {QtCriticalMsg, "critical"},
        {QtFatalMsg, "error"}, {QtInfoMsg, "info"}};
    for (const auto &m : messages)
        Logging::output(m_app, m_config, m.first, context, QStringLiteral("text of ") + m.second);

    for (const auto &m : messages) {
        const QString content = readLog(m.second);
        if (written.contains(m.second)) {
            QVERIFY2(content.contains(QStringLiteral("text of ") + m.second), qPrintable(m.second));
            // Nothing of another level strays into this file.
            QCOMPARE(content.count(QStringLiteral("text of ")), 1);
        } else {
            QVERIFY2(!QFile::exists(Logging::logDir(m_app) + "/" + m.second + ".txt"),
                     qPrintable(m.second));
        }
    }
}

void TestLogging::recordForm_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("pattern");
    const QString time = QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\d\\d\\d ");
    QTest::newRow("debug") << int(QtDebugMsg) << "debug" << time + "DEBUG: hello 你好\r\n$";
    QTest::newRow("warn") << int(QtWarningMsg) << "warn" << time + "WARN: hello 你好\r\n$";
    QTest::newRow("critical") << int(QtCriticalMsg) << "critical"
                              << time + "CRITICAL: hello 你好\r\n$";
    QTest::newRow("info") << int(QtInfoMsg) << "info" << time + "INFO: hello 你好\r\n$";
    QTest::newRow("fatal") << int(QtFatalMsg) << "error"
                           << time + "ERROR: hello 你好\n\tsrc/board.cpp 1234\r\n$";
}

void TestLogging::recordForm()
{
    QFETCH(int, type);
    QFETCH(QString, word);
    QFETCH(QString, pattern);
    writeConfig(QStringLiteral("[Log]\nLevel=all\n"));
    const QMessageLogContext context("src/board.cpp", 1234, "fn", "default");
    Logging::output(m_app, m_config, QtMsgType(type), context, QStringLiteral("hello 你好"));
    const QString content = readLog(word);
    QVERIFY2(QRegularExpression(pattern).match(content).hasMatch(), qPrintable(content));

    // Appended, not overwritten.
    Logging::output(m_app, m_config, QtMsgType(type), context, QStringLiteral("hello 你好"));
    QCOMPARE(readLog(word).count(QStringLiteral("hello")), 2);
}

void TestLogging::levelReadAnewForEveryMessage()
{
    const QMessageLogContext context;
    writeConfig(QStringLiteral("[Log]\nLevel=warn\n"));
    Logging::output(m_app, m_config, QtDebugMsg, context, QStringLiteral("first"));
    writeConfig(QStringLiteral("[Log]\nLevel=debug\n"));
    Logging::output(m_app, m_config, QtDebugMsg, context, QStringLiteral("second"));
    const QString content = readLog(QStringLiteral("debug"));
    QVERIFY(!content.contains(QStringLiteral("first")));
    QVERIFY(content.contains(QStringLiteral("second")));
    // A release build gives no source file: the fatal record still has its line.
    writeConfig(QStringLiteral("[Log]\nLevel=error\n"));
    Logging::output(m_app, m_config, QtFatalMsg, context, QStringLiteral("no source"));
    QVERIFY(readLog(QStringLiteral("error")).endsWith(QStringLiteral("no source\n\t 0\r\n")));
}

void TestLogging::logDirFollowsTempLocation()
{
    const QString temp = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    const QString head = temp.left(temp.lastIndexOf('/') + 1);
    QCOMPARE(Logging::logDir(QStringLiteral("VelaCenter")),
             QStringLiteral("/tmp") + head + QStringLiteral("Tavolix/VelaCenter/Log"));
    if (temp == QLatin1String("/tmp"))
        QCOMPARE(Logging::logDir(QStringLiteral("VelaCenter")),
                 QStringLiteral("/tmp/Tavolix/VelaCenter/Log"));
}

void TestLogging::clearLogsEmptiesOwnDirectory()
{
    writeConfig(QStringLiteral("[Log]\nLevel=all\n"));
    Logging::output(m_app, m_config, QtWarningMsg, QMessageLogContext(), QStringLiteral("old"));
    QVERIFY(QFile::exists(Logging::logDir(m_app) + QStringLiteral("/warn.txt")));
    Logging::clearLogs(m_app);
    QVERIFY(!QFile::exists(Logging::logDir(m_app) + QStringLiteral("/warn.txt")));
    // And the logger starts afresh afterwards.
    Logging::output(m_app, m_config, QtWarningMsg, QMessageLogContext(), QStringLiteral("new"));
    QCOMPARE(readLog(QStringLiteral("warn")).count(QStringLiteral("WARN:")), 1);
}

void TestLogging::levelChangeInTheSameFile()
{
    // The settings are no longer parsed for every line, but an edit of the
    // running centre's own file still takes effect within a few seconds.
    writeConfig(QStringLiteral("[Log]\nLevel=warn\n"));
    Logging::output(m_app, m_config, QtDebugMsg, QMessageLogContext(), QStringLiteral("before"));
    QTest::qWait(1100);
    QFile file(m_config);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[Log]\nLevel=debug\n");
    file.close();
    QVERIFY(QFileInfo(m_config).lastModified().isValid());
    QTRY_VERIFY_WITH_TIMEOUT(
        (Logging::output(m_app, m_config, QtDebugMsg, QMessageLogContext(), QStringLiteral("after")),
         readLog(QStringLiteral("debug")).contains(QStringLiteral("after"))),
        3000);
    QVERIFY(!readLog(QStringLiteral("debug")).contains(QStringLiteral("before")));
}

void TestLogging::filesAreBounded()
{
    writeConfig(QStringLiteral("[Log]\nLevel=warn\n"));
    const QString line(256 * 1024, QLatin1Char('x'));
    const qint64 records = 3 * Logging::kMaxFileBytes / line.size();
    for (qint64 i = 0; i < records; ++i)
        Logging::output(m_app, m_config, QtWarningMsg, QMessageLogContext(), QString::number(i) + line);
    const QString current = Logging::logDir(m_app) + QStringLiteral("/warn.txt");
    const qint64 recordBytes = line.size() + 64;
    QVERIFY(QFileInfo(current).size() < Logging::kMaxFileBytes + recordBytes);
    QVERIFY(QFileInfo(current + QStringLiteral(".1")).size() >= Logging::kMaxFileBytes);
    QVERIFY(QFileInfo(current + QStringLiteral(".1")).size() < Logging::kMaxFileBytes + recordBytes);
    QVERIFY(!QFile::exists(current + QStringLiteral(".2")));
    // The newest record is in the current file.
    QVERIFY(readLog(QStringLiteral("warn")).contains(QString::number(records - 1) + QStringLiteral("xxx")));
}

void TestLogging::categoryLevels_data()
{
    QTest::addColumn<CategoryOf>("category");
    for (const auto &c : kCategories)
        QTest::newRow(c.first) << c.second;
}

void TestLogging::categoryLevels()
{
    QFETCH(CategoryOf, category);
    if (qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        QSKIP("QT_LOGGING_RULES is set; the defaults cannot be seen");
    const QLoggingCategory &c = category();
    const QString name = QLatin1String(QTest::currentDataTag());
    QCOMPARE(QLatin1String(c.categoryName()), name);
    // Traces off, what an operator must see on.
    QVERIFY(!c.isDebugEnabled());
    QVERIFY(c.isInfoEnabled());
    QVERIFY(c.isWarningEnabled());
    QVERIFY(c.isCriticalEnabled());

    // The usual rule turns on this component's traces, and no other's.
    QLoggingCategory::setFilterRules(name + QStringLiteral(".debug=true"));
    const QStringList on = debugOn();
    QLoggingCategory::setFilterRules(QString());
    QCOMPARE(on, QStringList{name});
    QVERIFY(!c.isDebugEnabled());
}

void TestLogging::levelTurnsTracesOn_data()
{
    QTest::addColumn<QStringList>("configs"); // written one after the other
    QTest::addColumn<bool>("on");             // after the last one
    QTest::newRow("no level key") << QStringList{"[Log]\nNeedLog=1\n"} << false;
    QTest::newRow("error") << QStringList{"[Log]\nLevel=error\n"} << false;
    QTest::newRow("warn") << QStringList{"[Log]\nLevel=warn\n"} << false;
    QTest::newRow("debug") << QStringList{"[Log]\nLevel=debug\n"} << true;
    QTest::newRow("all") << QStringList{"[Log]\nLevel=all\n"} << true;
    QTest::newRow("DEBUG upper case") << QStringList{"[Log]\nLevel=DEBUG\n"} << false;
    QTest::newRow("debug, then warn") << QStringList{"[Log]\nLevel=debug\n", "[Log]\nLevel=warn\n"}
                                      << false;
    QTest::newRow("warn, then all") << QStringList{"[Log]\nLevel=warn\n", "[Log]\nLevel=all\n"} << true;
}

void TestLogging::levelTurnsTracesOn()
{
    QFETCH(QStringList, configs);
    QFETCH(bool, on);
    QStringList names;
    for (const auto &c : kCategories)
        names << QLatin1String(c.first);
    for (const QString &config : configs) {
        writeConfig(config);
        Logging::followLevel(m_config);
    }
    const QStringList seen = debugOn();
    // Back to the defaults for the next row.
    writeConfig(QStringLiteral("[Log]\nLevel=error\n"));
    Logging::followLevel(m_config);
    QCOMPARE(seen, on ? names : QStringList());
    QCOMPARE(debugOn(), QStringList());
    // Info and warnings stay on either way.
    for (const auto &c : kCategories)
        QVERIFY2(c.second().isWarningEnabled() && c.second().isInfoEnabled(), c.first);
}

// In the build type that ships (RelWithDebInfo, where Qt drops the message
// context unless told otherwise), a fatal record ends with the source file
// and line of the message. A copy of this program writes one and dies of it.
void TestLogging::errorRecordNamesItsSource()
{
    writeConfig(QStringLiteral("[Log]\nLevel=error\n"));
    const QString app = m_app + QStringLiteral("Fatal");
    QProcess copy;
    copy.setProcessChannelMode(QProcess::MergedChannels);
    copy.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--fatal"), app, m_config});
    QVERIFY(copy.waitForFinished(10000));
    QCOMPARE(copy.exitStatus(), QProcess::CrashExit);
    QFile file(Logging::writeDir(app) + QStringLiteral("/error.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString record = QString::fromUtf8(file.readAll());
    Logging::clearLogs(app);
    const QRegularExpression form(QStringLiteral("ERROR: %1\n\t(\\S+) (\\d+)\r\n$").arg(QLatin1String(kFatalText)));
    const QRegularExpressionMatch m = form.match(record);
    QVERIFY2(m.hasMatch(), qPrintable(record));
    QVERIFY2(m.captured(1).endsWith(QStringLiteral("tst_logging.cpp")), qPrintable(record));
    QCOMPARE(m.captured(2).toInt(), kFatalLine);
}

void TestLogging::unsafeLogFolder_data()
{
    QTest::addColumn<QString>("plant");  // what another account prepared
    QTest::addColumn<QString>("where");  // where the logs go then
    QTest::newRow("Log a symbolic link") << "Log link" << "Tavolix-uid";
    QTest::newRow("application folder a symbolic link") << "app link" << "Tavolix-uid";
    QTest::newRow("Tavolix a symbolic link") << "Tavolix link" << "Tavolix-uid";
    QTest::newRow("Log of another user") << "Log other" << "Tavolix-uid";
    QTest::newRow("application folder of another user") << "app other" << "Tavolix-uid";
    QTest::newRow("the private folder's name taken too") << "Tavolix link, private other" << "runtime";
    QTest::newRow("no runtime folder either") << "Tavolix link, private other, no runtime" << "fresh";
}

// Another account prepared the way to the log folder: nothing outside is
// cleared or written, the records go to a folder of this user alone, and
// standard error says so once.
void TestLogging::unsafeLogFolder()
{
    QFETCH(QString, plant);
    QFETCH(QString, where);
    if (::geteuid() != 0)
        QSKIP("needs root to give a folder to another user");
    const uid_t other = 65534;
    static int row = 0;
    const QString base = QStringLiteral("/tmp/vlt-%1-%2").arg(QCoreApplication::applicationPid()).arg(++row);
    const QString root = QStringLiteral("/tmp") + base; // the usual folder's part below /tmp
    struct Remove
    {
        QStringList dirs;
        ~Remove()
        {
            for (const QString &d : dirs)
                QDir(d).removeRecursively();
        }
    } remove{{root, base}};
    QVERIFY(QDir().mkpath(root));
    QVERIFY(QDir().mkpath(base + QStringLiteral("/t")));
    QTemporaryDir aside;
    const QString runtime = aside.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QCOMPARE(::chmod(QFile::encodeName(runtime).constData(), 0700), 0);
    ScopedEnv tmp("TMPDIR", (base + QStringLiteral("/t")).toUtf8());
    ScopedEnv xdg("XDG_RUNTIME_DIR", plant.contains(QLatin1String("no runtime")) ? QByteArray() : runtime.toUtf8());
    const QString app = QStringLiteral("VelaUnsafe");
    const QString usual = Logging::logDir(app);
    QCOMPARE(usual, root + QStringLiteral("/Tavolix/VelaUnsafe/Log"));

    // A folder of the user's own with a file in it, the target of the links.
    const QString victim = aside.filePath(QStringLiteral("victim"));
    QVERIFY(QDir().mkpath(victim + QStringLiteral("/Log")));
    for (const QString &f : {victim + QStringLiteral("/warn.txt"), victim + QStringLiteral("/Log/warn.txt")}) {
        QFile file(f);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("the user's own\n");
    }
    const QString linked = plant.startsWith(QLatin1String("Log")) ? usual
                           : plant.startsWith(QLatin1String("app")) ? root + QStringLiteral("/Tavolix/VelaUnsafe")
                                                                     : root + QStringLiteral("/Tavolix");
    QVERIFY(QDir().mkpath(QFileInfo(linked).path()));
    auto giveAway = [other](const QString &path) {
        return ::lchown(QFile::encodeName(path).constData(), other, other) == 0;
    };
    if (plant.contains(QLatin1String(" link"))) {
        QVERIFY(QFile::link(victim, linked));
        QVERIFY(giveAway(linked));
    } else {
        QVERIFY(QDir().mkpath(usual));
        QFile theirs(usual + QStringLiteral("/warn.txt"));
        QVERIFY(theirs.open(QIODevice::WriteOnly));
        theirs.write("theirs\n");
        theirs.close();
        QVERIFY(giveAway(linked));
        QVERIFY(giveAway(usual));
        QVERIFY(giveAway(theirs.fileName()));
    }
    const QString privateTop = root + QStringLiteral("/Tavolix-0");
    if (plant.contains(QLatin1String("private other"))) {
        QVERIFY(QDir().mkpath(privateTop));
        QVERIFY(giveAway(privateTop));
    }
    const QString watched = plant.contains(QLatin1String(" link")) ? victim : linked;
    const QMap<QString, QByteArray> before = filesBelow(watched);

    writeConfig(QStringLiteral("[Log]\nLevel=all\n"));
    const QString said = aside.filePath(QStringLiteral("stderr.txt"));
    QString dir;
    {
        StderrCapture capture(said);
        Logging::clearLogs(app);
        Logging::output(app, m_config, QtWarningMsg, QMessageLogContext(), QStringLiteral("first"));
        Logging::clearLogs(app);
        Logging::output(app, m_config, QtWarningMsg, QMessageLogContext(), QStringLiteral("second"));
        Logging::output(app, m_config, QtInfoMsg, QMessageLogContext(), QStringLiteral("third"));
        dir = Logging::writeDir(app);
    }
    QCOMPARE(filesBelow(watched), before);

    QString top;
    if (where == QLatin1String("Tavolix-uid"))
        top = privateTop;
    else if (where == QLatin1String("runtime"))
        top = runtime + QStringLiteral("/Tavolix");
    else
        top = dir.left(dir.indexOf(QStringLiteral("/VelaUnsafe/Log")));
    if (where == QLatin1String("fresh") && top.startsWith(QLatin1String("/tmp/Tavolix-")))
        remove.dirs << top;
    QCOMPARE(dir, top + QStringLiteral("/VelaUnsafe/Log"));
    if (where == QLatin1String("fresh"))
        QVERIFY2(QRegularExpression(QStringLiteral("^/tmp/Tavolix-0-\\w{6}$")).match(top).hasMatch(), qPrintable(top));
    struct stat st;
    QCOMPARE(::lstat(QFile::encodeName(top).constData(), &st), 0);
    QVERIFY(S_ISDIR(st.st_mode));
    QCOMPARE(st.st_uid, ::geteuid());
    QCOMPARE(int(st.st_mode & 077), 0);
    QFile warn(dir + QStringLiteral("/warn.txt"));
    QVERIFY(warn.open(QIODevice::ReadOnly));
    const QByteArray records = warn.readAll();
    QVERIFY(!records.contains("first")); // cleared at the second start
    QVERIFY(records.contains("second"));
    QVERIFY(QFile::exists(dir + QStringLiteral("/info.txt")));

    QFile err(said);
    QVERIFY(err.open(QIODevice::ReadOnly));
    const QString text = QString::fromLocal8Bit(err.readAll());
    QCOMPARE(text.count(QStringLiteral("log folder ") + usual + QStringLiteral(" not used")), 1);
    QVERIFY2(text.contains(dir), qPrintable(text));

}

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--fatal") == 0) {
        QCoreApplication app(argc, argv);
        static QString name = QString::fromLocal8Bit(argv[2]);
        static QString config = QString::fromLocal8Bit(argv[3]);
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            Logging::output(name, config, type, context, message);
        });
        dieWithRecord();
    }
    QCoreApplication app(argc, argv);
    TestLogging test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_logging.moc"
