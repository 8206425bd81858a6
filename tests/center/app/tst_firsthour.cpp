#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

// What a newcomer meets first: the demo script started from a terminal and
// stopped by time or by Ctrl-C, and the programs' --help and --version.
class TestFirstHour : public QObject
{
    Q_OBJECT
private slots:
    void helpAndVersion_data();
    void helpAndVersion();
    void demo_data();
    void demo();
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

    for (const char *program : {"velacenter", "zqbus", "boardsim", "VelaStrokeAccelerate", "serialtest", "iconpainter"}) {
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

QTEST_GUILESS_MAIN(TestFirstHour)
#include "tst_firsthour.moc"
