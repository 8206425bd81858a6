// The agent's single-instance guard against another account of the panel's
// PC: whatever that account plants in, or removes from, the folders it can
// write to (a shared temporary folder) before and while the agent runs, a
// second agent of the panel's user still finds the first one, and the guard
// is free again once the first has ended. The agents run as this test's user
// (root), the other account is uid 65534 through setpriv.

#include "strokeaccagentprocess.h"
#include "xvfbserver.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kOther[] = "65534";

// Runs `script` with sh as the other account; its exit status.
int asOther(const QString &script)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=%1").arg(kOther), QStringLiteral("--regid=%1").arg(kOther),
                                        QStringLiteral("--clear-groups"), QStringLiteral("sh"), QStringLiteral("-c"), script});
    if (!p.waitForFinished(20000))
        return -1;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QString quoted(QString text)
{
    text.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class TestStrokeAccGuard : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void anotherAccountCannotTakeTheGuard_data();
    void anotherAccountCannotTakeTheGuard();
    void cleanupTestCase();

private:
    // Starts a copy and waits until it is past the guard (its window made the
    // agent), or until it ended. True when it runs on.
    bool startAgent(QProcess &p);

    XvfbServer m_x;
    StrokeAccAgentProcess m_program;
    QByteArray m_savedRuntime, m_savedTmp, m_savedHome;
};

void TestStrokeAccGuard::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root to act as a second account");
    QVERIFY2(m_x.start(1920, 1080), qPrintable(m_x.errorText()));
    // No hub: the agents try a port nobody listens on.
    qputenv("VELA_BUS_PORT", "1");
    m_savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    m_savedTmp = qgetenv("TMPDIR");
    m_savedHome = qgetenv("HOME");
}

void TestStrokeAccGuard::cleanupTestCase()
{
    auto restore = [](const char *name, const QByteArray &value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    restore("XDG_RUNTIME_DIR", m_savedRuntime);
    restore("TMPDIR", m_savedTmp);
    restore("HOME", m_savedHome);
}

bool TestStrokeAccGuard::startAgent(QProcess &p)
{
    const int before = m_program.log().count(QLatin1String("[velastrokeaccelerate] new ipc"));
    if (!m_program.startCopy(p, m_x.display()))
        return false;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && p.state() == QProcess::Running
           && m_program.log().count(QLatin1String("[velastrokeaccelerate] new ipc")) == before)
        QTest::qWait(50);
    return p.state() == QProcess::Running
           && m_program.log().count(QLatin1String("[velastrokeaccelerate] new ipc")) > before;
}

void TestStrokeAccGuard::anotherAccountCannotTakeTheGuard_data()
{
    QTest::addColumn<bool>("runtimeFolder");   // XDG_RUNTIME_DIR set (a desktop session)
    QTest::addColumn<QString>("prepared");     // what the other account made in the shared folder first
    QTest::newRow("runtime folder") << true << QString();
    QTest::newRow("shared temporary folder") << false << QString();
    QTest::newRow("shared folder taken") << false << QStringLiteral("mkdir -m 777 vela-0");
    QTest::newRow("shared folder a link") << false << QStringLiteral("mkdir -m 777 mine && ln -s mine vela-0");
}

void TestStrokeAccGuard::anotherAccountCannotTakeTheGuard()
{
    QFETCH(bool, runtimeFolder);
    QFETCH(QString, prepared);

    // A folder the other account can reach, with a shared temporary folder
    // (sticky, as /tmp), a runtime folder and a home of the agent's user.
    QTemporaryDir base((m_savedTmp.isEmpty() ? QStringLiteral("/tmp") : QString::fromLocal8Bit(m_savedTmp))
                       + QStringLiteral("/tst_strokeaccguard-XXXXXX"));
    QVERIFY(base.isValid());
    QVERIFY(::chmod(qPrintable(base.path()), 0755) == 0);
    const QString shared = base.filePath("tmp"), runtime = base.filePath("run"), home = base.filePath("home");
    QVERIFY(QDir().mkdir(shared) && QDir().mkdir(runtime) && QDir().mkdir(home));
    QVERIFY(::chmod(qPrintable(shared), 01777) == 0);
    QVERIFY(::chmod(qPrintable(runtime), 0700) == 0);
    QVERIFY(::chmod(qPrintable(home), 0755) == 0);
    qputenv("TMPDIR", shared.toLocal8Bit());
    qputenv("HOME", home.toLocal8Bit());
    if (runtimeFolder)
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    else
        qunsetenv("XDG_RUNTIME_DIR");
    if (!prepared.isEmpty())
        QCOMPARE(asOther("cd " + quoted(shared) + " && " + prepared), 0);

    // What the guard leaves in the shared folder while an agent runs.
    const QStringList before = entries(shared);
    QProcess first;
    QVERIFY(startAgent(first));
    QStringList made;
    for (const QString &name : entries(shared))
        if (!before.contains(name))
            made << name;
    StrokeAccAgentProcess::stop(first);
    QTest::qWait(300);   // the guard's keeper lets go

    // The other account takes those names before the next agent starts ...
    QString plant = "cd " + quoted(shared);
    for (const QString &name : qAsConst(made))
        plant += " ; rm -rf " + quoted(name) + " 2>/dev/null; touch " + quoted(name) + " 2>/dev/null";
    asOther(plant + " ; true");
    QProcess agent;
    QVERIFY(startAgent(agent));
    // ... and removes what it can while it runs.
    asOther("cd " + quoted(shared) + " && rm -rf ./* ./.[!.]* 2>/dev/null; rm -rf " + quoted(runtime) + "/* "
            + quoted(home) + "/* " + quoted(home) + "/.[!.]* 2>/dev/null; true");

    QProcess second;
    const int refused = m_program.log().count(QLatin1String("app already running, exit."));
    QVERIFY(m_program.startCopy(second, m_x.display()));
    QVERIFY2(second.waitForFinished(10000), "a second agent runs beside the first");
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(m_program.log().count(QLatin1String("app already running, exit.")), refused + 1);
    QCOMPARE(agent.state(), QProcess::Running);

    // Once the first has ended the next one runs.
    StrokeAccAgentProcess::stop(agent);
    QTest::qWait(300);
    QProcess next;
    QVERIFY(startAgent(next));
    QTest::qWait(500);
    QCOMPARE(next.state(), QProcess::Running);
    StrokeAccAgentProcess::stop(next);
    QTest::qWait(300);
}

QTEST_GUILESS_MAIN(TestStrokeAccGuard)
#include "tst_strokeaccguard.moc"
