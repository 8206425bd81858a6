#include "zqscenariosingleapp.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

// The single-instance guard between real processes: this test program is the
// first copy, and starts further copies of itself as the later ones.
class TestSingleApp : public QObject
{
    Q_OBJECT
public:
    explicit TestSingleApp(ZQScenarioSingleApp *app) : m_app(app) {}

private slots:
    void firstCopyIsNotRunning();
    void secondCopyForwardsText_data();
    void secondCopyForwardsText();
    void otherIdentifierIsIndependent();
    void oversizedTextIsRefused();
    void lockOfDeadCopyIsTakenOver();
    void guardFolderIsPrivate();
    void squattedGuard_data();
    void squattedGuard();

private:
    int runCopy(const QStringList &args, QString *output = nullptr,
                const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

    ZQScenarioSingleApp *m_app;
};

int TestSingleApp::runCopy(const QStringList &args, QString *output, const QProcessEnvironment &env)
{
    QProcess copy;
    copy.setProcessChannelMode(QProcess::MergedChannels);
    copy.setProcessEnvironment(env);
    copy.start(QCoreApplication::applicationFilePath(), QStringList{"--copy"} + args);
    if (!copy.waitForStarted(5000))
        return -100;
    // The copy's send waits for this process's event loop to answer.
    QElapsedTimer timer;
    timer.start();
    while (copy.state() != QProcess::NotRunning && timer.elapsed() < 15000)
        QTest::qWait(20);
    if (copy.state() != QProcess::NotRunning) {
        copy.kill();
        copy.waitForFinished();
        return -101;
    }
    if (output)
        *output = QString::fromUtf8(copy.readAll());
    return copy.exitCode();
}

void TestSingleApp::firstCopyIsNotRunning()
{
    QVERIFY(!m_app->isRunning());
    QVERIFY(!m_app->sendMessage(QStringLiteral("to nobody"), 100));
}

void TestSingleApp::secondCopyForwardsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("arguments") << QStringLiteral("-a b");
    QTest::newRow("empty") << QString();
    QTest::newRow("non-ascii") << QStringLiteral("打开 白板");
}

void TestSingleApp::secondCopyForwardsText()
{
    QFETCH(QString, text);
    QSignalSpy spy(m_app, &ZQScenarioSingleApp::messageReceived);
    QString output;
    QCOMPARE(runCopy({m_app->id(), text}, &output), 0);
    QVERIFY2(output.contains(QStringLiteral("running=1 sent=1")), qPrintable(output));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), text);
}

void TestSingleApp::otherIdentifierIsIndependent()
{
    QSignalSpy spy(m_app, &ZQScenarioSingleApp::messageReceived);
    QString output;
    const QString id = m_app->id() + QStringLiteral("-other");
    QCOMPARE(runCopy({id, QStringLiteral("x")}, &output), 0);
    QVERIFY2(output.contains(QStringLiteral("running=0 sent=0")), qPrintable(output));
    QCOMPARE(spy.count(), 0);
}

void TestSingleApp::oversizedTextIsRefused()
{
    QSignalSpy spy(m_app, &ZQScenarioSingleApp::messageReceived);
    QString output;
    QCOMPARE(runCopy({m_app->id(), QStringLiteral("--huge")}, &output), 0);
    QVERIFY2(output.contains(QStringLiteral("running=1 sent=0")), qPrintable(output));
    QCOMPARE(spy.count(), 0);
}

void TestSingleApp::lockOfDeadCopyIsTakenOver()
{
    // A copy that holds the lock and dies without cleaning up.
    const QString id = m_app->id() + QStringLiteral("-dead");
    QProcess holder;
    holder.setProcessChannelMode(QProcess::MergedChannels);
    holder.start(QCoreApplication::applicationFilePath(), {"--hold", id});
    QVERIFY(holder.waitForStarted(5000));
    QByteArray said;
    QTRY_VERIFY2_WITH_TIMEOUT((said += holder.readAll()).contains("holding"), said.constData(), 10000);

    QString output;
    QCOMPARE(runCopy({id, QStringLiteral("x")}, &output), 0);
    QVERIFY2(output.contains(QStringLiteral("running=1 sent=1")), qPrintable(output));

    holder.kill();
    QVERIFY(holder.waitForFinished(5000));
    QCOMPARE(runCopy({id, QStringLiteral("x")}, &output), 0);
    QVERIFY2(output.contains(QStringLiteral("running=0 sent=0")), qPrintable(output));
}

// The lock and the socket live in a folder only this user may enter.
void TestSingleApp::guardFolderIsPrivate()
{
    const QFileInfo base(m_app->guardPath());
    QCOMPARE(base.path(), QDir::tempPath() + QStringLiteral("/Tavolix-%1").arg(::geteuid()));
    struct stat st;
    QCOMPARE(::lstat(QFile::encodeName(base.path()).constData(), &st), 0);
    QVERIFY(S_ISDIR(st.st_mode));
    QCOMPARE(st.st_uid, ::geteuid());
    QCOMPARE(int(st.st_mode & 0777), 0700);
    QVERIFY(QFile::exists(base.filePath() + QStringLiteral(".lock")));
    QVERIFY(QFile::exists(base.filePath() + QStringLiteral(".sock")));
}

void TestSingleApp::squattedGuard_data()
{
    QTest::addColumn<QString>("squat"); // what another account prepared in the shared temporary folder
    QTest::addColumn<bool>("runtime");  // the user has a runtime folder
    QTest::addColumn<bool>("guarded");  // a second copy still reaches the first
    QTest::newRow("a lock held and a socket listening under the guard's former names") << "old names" << true << true;
    QTest::newRow("the private folder's name, as a folder of its own") << "folder" << true << true;
    QTest::newRow("the private folder's name, as a link to its folder") << "link" << true << true;
    QTest::newRow("the private folder's name, and no runtime folder") << "folder" << false << false;
}

// Another account (uid 65534) prepared the temporary folder before the user's
// first copy starts: that copy still runs as the first, a second one hands
// its text to it and to nobody else. With the private folder's name taken
// and no runtime folder to go to, the guard is off and says so.
void TestSingleApp::squattedGuard()
{
    QFETCH(QString, squat);
    QFETCH(bool, runtime);
    QFETCH(bool, guarded);
    if (::geteuid() != 0)
        QSKIP("needs root to act for another user");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString temp = dir.filePath(QStringLiteral("tmp"));
    const QString runDir = dir.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkpath(temp) && QDir().mkpath(runDir));
    QCOMPARE(::chmod(QFile::encodeName(temp).constData(), 01777), 0);
    QCOMPARE(::chmod(QFile::encodeName(runDir).constData(), 0700), 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), temp);
    if (runtime)
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runDir);
    else
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    const QString id = QStringLiteral("VelaSquat");
    const QString own = temp + QStringLiteral("/Tavolix-%1").arg(::geteuid());

    // The squatter listens and holds its lock where it expects the user's.
    QString squatBase;
    if (squat == QLatin1String("old names")) {
        squatBase = temp + QStringLiteral("/qtsingleapp-%1-%2").arg(id).arg(::geteuid());
    } else {
        const QString theirs = squat == QLatin1String("link") ? dir.filePath(QStringLiteral("theirs")) : own;
        QVERIFY(QDir().mkpath(theirs));
        if (squat == QLatin1String("link"))
            QVERIFY(QFile::link(theirs, own));
        QCOMPARE(::lchown(QFile::encodeName(own).constData(), 65534, 65534), 0);
        QCOMPARE(::chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
        squatBase = theirs + QStringLiteral("/singleapp-") + id;
    }
    QProcess squatter;
    squatter.setProcessChannelMode(QProcess::MergedChannels);
    squatter.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--squat"), squatBase});
    QVERIFY(squatter.waitForStarted(5000));
    QByteArray squatSaid;
    QTRY_VERIFY2_WITH_TIMEOUT((squatSaid += squatter.readAll()).contains("squatting"), squatSaid.constData(), 10000);
    for (const QString &ending : {QStringLiteral(".lock"), QStringLiteral(".sock")})
        QCOMPARE(::lchown(QFile::encodeName(squatBase + ending).constData(), 65534, 65534), 0);

    QProcess first;
    first.setProcessChannelMode(QProcess::MergedChannels);
    first.setProcessEnvironment(env);
    first.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold"), id});
    QVERIFY(first.waitForStarted(5000));
    QByteArray said;
    QTRY_VERIFY2_WITH_TIMEOUT((said += first.readAll()).contains("holding"), said.constData(), 10000);
    QVERIFY2(said.contains("holding running=0"), said.constData());
    QCOMPARE(said.contains("single instance guard off"), !guarded);

    QString output;
    QCOMPARE(runCopy({id, QStringLiteral("for the user's own copy")}, &output, env), 0);
    QVERIFY2(output.contains(guarded ? QStringLiteral("running=1 sent=1") : QStringLiteral("running=0 sent=0")),
             qPrintable(output));
    if (guarded)
        QTRY_VERIFY2_WITH_TIMEOUT((said += first.readAll()).contains("received for the user's own copy"), said.constData(), 5000);
    QTest::qWait(200);
    squatSaid += squatter.readAll();
    QVERIFY2(!squatSaid.contains("received"), squatSaid.constData());

    first.kill();
    squatter.kill();
    QVERIFY(first.waitForFinished(5000) && squatter.waitForFinished(5000));
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--squat") == 0) {
        // Someone else's lock and socket under a name the guard might use.
        QCoreApplication squat(argc, argv);
        const QString base = QString::fromLocal8Bit(argv[2]);
        QLockFile lock(base + QStringLiteral(".lock"));
        QLocalServer server;
        if (!lock.tryLock(0) || !server.listen(base + QStringLiteral(".sock"))) {
            printf("cannot squat %s\n", argv[2]);
            return 1;
        }
        QObject::connect(&server, &QLocalServer::newConnection, [&server]() {
            while (QLocalSocket *s = server.nextPendingConnection()) {
                QObject::connect(s, &QLocalSocket::readyRead, [s]() {
                    printf("received %s\n", s->readAll().toHex().constData());
                    fflush(stdout);
                });
            }
        });
        printf("squatting\n");
        fflush(stdout);
        return squat.exec();
    }
    if (argc > 1 && qstrcmp(argv[1], "--copy") == 0 && argc >= 4) {
        const QString id = QString::fromLocal8Bit(argv[2]);
        QString text = QString::fromLocal8Bit(argv[3]);
        int copyArgc = 1;
        ZQScenarioSingleApp copy(id, copyArgc, argv);
        if (text == QLatin1String("--huge"))
            text = QString(ZQScenarioSingleApp::kMaxMessageBytes + 1, QLatin1Char('x'));
        const bool sent = copy.sendMessage(text, 5000);
        printf("running=%d sent=%d\n", copy.isRunning() ? 1 : 0, sent ? 1 : 0);
        return 0;
    }
    if (argc > 2 && qstrcmp(argv[1], "--hold") == 0) {
        int holdArgc = 1;
        ZQScenarioSingleApp holder(QString::fromLocal8Bit(argv[2]), holdArgc, argv);
        QObject::connect(&holder, &ZQScenarioSingleApp::messageReceived, [](const QString &text) {
            printf("received %s\n", qPrintable(text));
            fflush(stdout);
        });
        printf("holding running=%d\n", holder.isRunning() ? 1 : 0);
        fflush(stdout);
        return holder.exec();
    }

    ZQScenarioSingleApp app(QStringLiteral("VelaSingleTest%1").arg(QCoreApplication::applicationPid()),
                            argc, argv);
    TestSingleApp test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleapp.moc"
