#include "zqscenariosingleapp.h"

#include <QProcess>
#include <QtTest>

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

private:
    int runCopy(const QStringList &args, QString *output = nullptr);

    ZQScenarioSingleApp *m_app;
};

int TestSingleApp::runCopy(const QStringList &args, QString *output)
{
    QProcess copy;
    copy.setProcessChannelMode(QProcess::MergedChannels);
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

int main(int argc, char **argv)
{
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
