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
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

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

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
