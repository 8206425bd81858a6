#include "velacenterrig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

// What a newcomer meets first: the demo script started from a terminal and
// stopped by time or by Ctrl-C, the programs' --help and --version, and
// velacenter's log: quiet by default, traces of one component on request.
class TestFirstHour : public QObject
{
    Q_OBJECT
private slots:
    void helpAndVersion_data();
    void helpAndVersion();
    void demo_data();
    void demo();
    void centreTraces_data();
    void centreTraces();
};

namespace {

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Runs `command` under bash with a pseudo-terminal as its controlling
// terminal, the way a person starts it. Output is collected until it ends.
class TerminalRun
{
public:
    explicit TerminalRun(const QByteArray &command)
    {
        m_pid = forkpty(&m_master, nullptr, nullptr, nullptr);
        if (m_pid == 0) {
            execl("/bin/bash", "bash", "-c", command.constData(), static_cast<char *>(nullptr));
            _exit(127);
        }
        fcntl(m_master, F_SETFL, O_NONBLOCK);
    }
    ~TerminalRun()
    {
        if (m_status < 0 && m_pid > 0) {
            kill(-m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0)
            close(m_master);
    }
    bool started() const { return m_pid > 0; }
    // Reads until `text` has been seen or `ms` have passed.
    bool waitFor(const QByteArray &text, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (!m_output.contains(text) && clock.elapsed() < ms && readSome(100)) {}
        return m_output.contains(text);
    }
    // What typing Ctrl-C at the terminal does: the line discipline signals
    // the terminal's foreground process group.
    void typeCtrlC() { (void)write(m_master, "\x03", 1); }
    // Exit status, or -1 when it did not end within `ms`.
    int finish(int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            readSome(100);
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                while (readSome(50)) {}
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return m_status;
            }
        }
        return -1;
    }
    const QByteArray &output() const { return m_output; }

private:
    bool readSome(int ms)
    {
        pollfd p{m_master, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0)
            return m_status < 0;
        char buf[4096];
        const ssize_t n = read(m_master, buf, sizeof buf);
        if (n > 0)
            m_output.append(buf, int(n));
        return n > 0;
    }
    pid_t m_pid = -1;
    int m_master = -1;
    int m_status = -1;
    QByteArray m_output;
};

} // namespace

void TestFirstHour::helpAndVersion_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("expected");

    for (const char *program : {"velacenter", "zqbus", "boardsim", "velatables", "VelaStrokeAccelerate", "velabridge",
                                "serialtest", "iconpainter"}) {
        QTest::addRow("%s --version", program) << program << "--version"
                                               << QStringLiteral("%1 %2").arg(program, VELA_VERSION);
        QTest::addRow("%s --help", program) << program << "--help" << "Usage:";
    }
}

void TestFirstHour::helpAndVersion()
{
    QFETCH(QString, program);
    QFETCH(QString, option);
    QFETCH(QString, expected);

    // The answer comes at once and starts nothing: no bus hub appears on the
    // port the program would use, and no running copy is needed or reached.
    const int port = freePort();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELA_BUS_PORT"), QString::number(port));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VELA_BIN_DIR "/") + program, {option});
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    QVERIFY2(out.contains(expected), qPrintable(out));
    QTcpServer again;
    QVERIFY2(again.listen(QHostAddress::LocalHost, quint16(port)), "the bus port was taken");
}

void TestFirstHour::demo_data()
{
    QTest::addColumn<bool>("ctrlC");
    QTest::newRow("timed run") << false;
    QTest::newRow("Ctrl-C") << true;
}

void TestFirstHour::demo()
{
    QFETCH(bool, ctrlC);

    // A bus port of its own: the demo must not need 23334, and its bus
    // listener only shows JSON when velacenter's hub really is on that port.
    const QByteArray buildDir = QDir::cleanPath(QStringLiteral(VELA_BIN_DIR "/..")).toLocal8Bit();
    const QByteArray command = "unset DISPLAY; export RUN_NO_BUILD=1 BUILD_DIR=" + buildDir
                               + " VELA_BUS_PORT=" + QByteArray::number(freePort())
                               + (ctrlC ? "" : " RUN_SECONDS=9") + "; exec " VELA_SOURCE_DIR "/scripts/run.sh";
    TerminalRun run(command);
    QVERIFY(run.started());
    QVERIFY2(run.waitFor("\"eventid\": \"EVENT_ANY\"", 30000), run.output().constData());
    QVERIFY2(run.waitFor("RX 7F 0A 99 A2 B3 C4 02 FF 12 34 56 78 CF", 15000), run.output().constData());
    if (ctrlC)
        run.typeCtrlC();
    const int status = run.finish(40000);
    QCOMPARE(status, 0);
    QVERIFY2(run.output().contains("stopping velacenter"), run.output().constData());

    // Stopped in order: one signal, so the centre ran its whole stop, and
    // the simulator outlived it, so the centre never lost its board.
    QFile log(QString::fromLocal8Bit(buildDir) + QStringLiteral("/run/velacenter.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QVERIFY2(text.contains("event loop ended 0"), text.constData());
    QVERIFY2(!text.contains("lost:"), text.constData());
}

void TestFirstHour::centreTraces_data()
{
    QTest::addColumn<QString>("rules");      // the centre's QT_LOGGING_RULES
    QTest::addColumn<QString>("log");        // [Log] group at start
    QTest::addColumn<QString>("laterLog");   // written while it runs, unless empty
    QTest::addColumn<QStringList>("traced"); // per-frame traces that show then
    QTest::addColumn<bool>("onlyThese");     // and no other category's debug line

    const QString debug = QStringLiteral("[Log]\nLevel=debug\n");
    const QStringList both{"vela.serial", "vela.dispatch"};
    QTest::newRow("default") << "" << "" << "" << QStringList{} << true;
    QTest::newRow("Log/Level debug") << "" << debug << "" << both << false;
    QTest::newRow("Log/Level all") << "" << "[Log]\nLevel=all\n" << "" << both << false;
    QTest::newRow("rule for vela.serial only") << "vela.serial.debug=true" << "" << ""
                                               << QStringList{"vela.serial"} << true;
    QTest::newRow("rule for vela.dispatch only") << "vela.dispatch.debug=true" << "" << ""
                                                 << QStringList{"vela.dispatch"} << true;
    QTest::newRow("Log/Level debug, serial off by rule") << "vela.serial.debug=false" << debug << ""
                                                         << QStringList{"vela.dispatch"} << false;
    QTest::newRow("Log/Level debug written while running") << "" << "" << debug << both << false;
    QTest::newRow("Log/Level debug taken back while running")
        << "" << debug << "[Log]\nLevel=warn\n" << QStringList{} << true;
}

void TestFirstHour::centreTraces()
{
    QFETCH(QString, rules);
    QFETCH(QString, log);
    QFETCH(QString, laterLog);
    QFETCH(QStringList, traced);
    QFETCH(bool, onlyThese);

    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.extraIni = log;
    // The message type and category in front of every line the centre writes.
    options.environment = QStringList{QStringLiteral("QT_LOGGING_RULES=") + rules,
                                      QStringLiteral("QT_MESSAGE_PATTERN=%{type} %{category}: %{message}")};
    QVERIFY2(rig.start(options), qPrintable(rig.error()));
    if (!laterLog.isEmpty()) {
        QVERIFY(rig.setExtraIni(laterLog));
        // Followed within two seconds: a check a second, the file read again once changed.
        QTest::qWait(2500);
    }

    const int mark = rig.centreOutput().size();
    // One frame from the board up to the bus, and a bus message the centre
    // refuses with a warning.
    const int from = rig.busMessages().size();
    rig.boardSend(QStringLiteral("frame E9 01"));
    QVERIFY(rig.waitBusMessage([](const QJsonObject &o) { return o.value("param").toString() == "6QE="; },
                               10000, nullptr, from));
    QCOMPARE(rig.sendToCentre(VelaCenterRig::eventAny(QByteArray(), QStringLiteral("ID_APP_VELACENTER"))), 0);
    const QString warning = QStringLiteral("warning vela.core: EVENT_ANY without a command");
    QTRY_VERIFY_WITH_TIMEOUT(rig.centreOutput().mid(mark).contains(warning), 10000);

    const QString seen = rig.centreOutput().mid(mark);
    const QMap<QString, QRegularExpression> perFrame = {
        {"vela.serial", QRegularExpression("^debug vela\\.serial: checkCmd 7F:.*:E9:01:CF$",
                                           QRegularExpression::MultilineOption)},
        {"vela.dispatch", QRegularExpression("^debug vela\\.dispatch: send ipc .*6QE=",
                                             QRegularExpression::MultilineOption)}};
    for (auto it = perFrame.cbegin(); it != perFrame.cend(); ++it)
        QVERIFY2(it.value().match(seen).hasMatch() == traced.contains(it.key()),
                 qPrintable(it.key() + QStringLiteral(" in:\n") + seen.left(3000)));
    // What an operator looks for shows whatever the rules for traces say:
    // the log flag, and a second start with the arguments it handed over.
    QVERIFY2(rig.centreOutput().contains(QStringLiteral("info vela.core: needLog 0")),
             qPrintable(rig.centreOutput().left(2000)));
    QString second;
    QCOMPARE(rig.runSecondCopy({QStringLiteral("-a"), QStringLiteral("b")}, &second, 15000), 0);
    QTRY_VERIFY_WITH_TIMEOUT(
        rig.centreOutput().contains(QStringLiteral("info vela.core: single instance message \"-a b\"")), 5000);

    if (onlyThese) {
        QStringList categories;
        const QRegularExpression debugLine("^debug (\\S+): ", QRegularExpression::MultilineOption);
        for (auto m = debugLine.globalMatch(seen); m.hasNext();)
            categories << m.next().captured(1);
        categories.removeDuplicates();
        categories.sort();
        QCOMPARE(categories, traced);
    }
}

QTEST_GUILESS_MAIN(TestFirstHour)
#include "tst_firsthour.moc"
