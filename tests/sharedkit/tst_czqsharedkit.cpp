// The shared kit against real processes and a real bus hub on 127.0.0.1.
#include "czqsharedkit.h"
#include "zqipc.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QThread>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

const int kBusPort = 23334;
const char kKitId[] = "ID_APP_GETTOPAPP_DLL";

// A program of the suite on the bus: it listens to what the kit publishes and,
// when told to, answers "ID_APP_IS_TOP" after a delay. It lives on the suite's
// thread (see Suite), as it would in a process of its own.
class FakeApp : public QObject
{
public:
    explicit FakeApp(const QString &id) : m_id(id)
    {
        connect(&m_ipc, &ZQIPC::sigRecvInfo, this, &FakeApp::onMessage);
    }
    bool join()
    {
        if (!m_ipc.createTcpClient(m_id, "127.0.0.1", kBusPort))
            return false;
        m_ipc.registerMsgAccept(QString::fromLatin1(kKitId));
        return true;
    }
    // Answers every question, or (-1) none; `onlyQuestion` > 0 answers only
    // that question (1 = the first one it hears from now on).
    void answerAfter(int ms, int onlyQuestion = 0)
    {
        QMutexLocker lock(&m_mutex);
        m_answerDelay = ms;
        m_onlyQuestion = onlyQuestion;
        m_questions = 0;
    }
    void stayQuiet() { answerAfter(-1); }
    QStringList received() const
    {
        QMutexLocker lock(&m_mutex);
        return m_received;
    }
    void clearReceived()
    {
        QMutexLocker lock(&m_mutex);
        m_received.clear();
    }

private:
    void onMessage(const QString &text)
    {
        if (text == QLatin1String("succeful"))
            return;
        QMutexLocker lock(&m_mutex);
        m_received << text;
        const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
        if (o.value(QStringLiteral("eventid")).toString() != QLatin1String("ID_APP_IS_TOP") || m_answerDelay < 0)
            return;
        ++m_questions;
        if (m_onlyQuestion > 0 && m_questions != m_onlyQuestion)
            return;
        QTimer::singleShot(m_answerDelay, this, [this] {
            const QJsonObject answer{{QStringLiteral("eventid"), QStringLiteral("ID_APP_IS_TOP")},
                                     {QStringLiteral("from"), m_id},
                                     {QStringLiteral("to"), QString::fromLatin1(kKitId)}};
            m_ipc.sentInfo(QString::fromLatin1(kKitId), QString::fromUtf8(QJsonDocument(answer).toJson()));
        });
    }

    QString m_id;
    ZQIPC m_ipc;
    mutable QMutex m_mutex;   // the fields below; the test's thread reads and sets them
    QStringList m_received;
    int m_answerDelay = -1;
    int m_onlyQuestion = 0;
    int m_questions = 0;
};

// The suite's programs and the hub run on a thread of their own: a question
// blocks the thread that asks, and the answers must not depend on it.
class Suite
{
public:
    Suite()
    {
        m_thread.start();
        m_context.moveToThread(&m_thread);
    }
    ~Suite()
    {
        clear();
        stopHub();
        m_thread.quit();
        m_thread.wait();
    }
    // Runs f on the suite's thread and waits for it.
    void run(const std::function<void()> &f)
    {
        QMetaObject::invokeMethod(&m_context, f, Qt::BlockingQueuedConnection);
    }
    bool startHub()
    {
        bool ok = false;
        run([&] {
            m_hub.reset(new ZQIPC);
            ok = m_hub->createTcpServer(kBusPort);
        });
        return ok;
    }
    void stopHub()
    {
        run([&] { m_hub.reset(); });
    }
    bool hubRunning() const { return bool(m_hub); }
    FakeApp *app(const QString &id)
    {
        for (auto &a : m_apps)
            if (a->objectName() == id)
                return a.get();
        bool joined = false;
        run([&] {
            auto a = std::make_unique<FakeApp>(id);
            a->setObjectName(id);
            joined = a->join();
            if (joined)
                m_apps.push_back(std::move(a));
        });
        if (!joined)
            return nullptr;
        // Let the hub take the hello and the subscription before anything is published.
        QTest::qWait(200);
        return m_apps.back().get();
    }
    void clear()
    {
        run([&] { m_apps.clear(); });
    }
    void silenceAll()
    {
        for (auto &a : m_apps) {
            a->stayQuiet();
            a->clearReceived();
        }
    }

private:
    QThread m_thread;
    QObject m_context;
    std::unique_ptr<ZQIPC> m_hub;
    std::vector<std::unique_ptr<FakeApp>> m_apps;
};

QString kitMessage(const QString &eventId, const QString &to)
{
    return QStringLiteral("{\n    \"eventid\": \"%1\",\n    \"from\": \"ID_APP_GETTOPAPP_DLL\",\n    \"to\": \"%2\"\n}\n")
        .arg(eventId, to);
}

} // namespace

class TestCZqSharedKit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void checkProgramRun_data();
    void checkProgramRun();
    void noHubYet();
    void answerOverBus_data();
    void answerOverBus();
    void lateAnswerDoesNotAnswerNextQuestion();
    void concurrentAskers_data();
    void concurrentAskers();
    void showAndClose_data();
    void showAndClose();
    void reconnectsAfterHubRestart();
    void annotationRunningCountsAsTop();

private:
    QProcess *startScript(const QString &fileName);

    QTemporaryDir m_dir;
    Suite m_suite;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    CZqSharedKit *m_kit = nullptr;
    bool m_annotationElsewhere = false;
};

void TestCZqSharedKit::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_kit = CZqSharedKit::getInstence();
    QVERIFY(m_kit);
    QCOMPARE(CZqSharedKit::getInstence(), m_kit);
    // Another program of the machine may run the annotation program; then the
    // kit rightly reports it in front and the bus cases cannot be observed.
    m_annotationElsewhere = m_kit->checkProgramRun(QStringLiteral("VelaAnnotation.exe")) == 1;
}

void TestCZqSharedKit::cleanupTestCase()
{
    for (auto &p : m_processes) {
        p->kill();
        p->waitForFinished(3000);
    }
}

QProcess *TestCZqSharedKit::startScript(const QString &fileName)
{
    const QString path = m_dir.filePath(fileName);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return nullptr;
    f.write("#!/bin/sh\nsleep 60\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_processes.push_back(std::make_unique<QProcess>());
    QProcess *p = m_processes.back().get();
    p->start(path, QStringList());
    return p->waitForStarted(5000) ? p : nullptr;
}

void TestCZqSharedKit::checkProgramRun_data()
{
    QTest::addColumn<QString>("script");   // started before the check, empty for none
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("expected");

    const QString tag = QString::number(QCoreApplication::applicationPid());
    const QString camera = QStringLiteral("VelaCamera%1.exe").arg(tag);
    QTest::newRow("running .exe") << camera << camera << 1;
    QTest::newRow("not running .exe") << QString() << QStringLiteral("VelaNothing%1.exe").arg(tag) << 0;
    QTest::newRow("running, asked without .exe") << QStringLiteral("VelaBridge%1.exe").arg(tag)
                                                 << QStringLiteral("VelaBridge%1").arg(tag) << 0;
    QTest::newRow("name without .exe never found") << QString() << QStringLiteral("sleep") << 0;
    QTest::newRow(".exe is case-sensitive") << QStringLiteral("VelaUpper%1.EXE").arg(tag)
                                            << QStringLiteral("VelaUpper%1.EXE").arg(tag) << 0;
    QTest::newRow("bare .exe") << QString() << QStringLiteral(".exe") << 0;
    QTest::newRow("brackets are plain text") << QStringLiteral("Vela[Cam]%1.exe").arg(tag)
                                             << QStringLiteral("Vela[Cam]%1.exe").arg(tag) << 1;
    QTest::newRow("leading dash is not an option") << QStringLiteral("-v%1.exe").arg(tag)
                                                   << QStringLiteral("-v%1.exe").arg(tag) << 1;
    QTest::newRow("quote in a running name") << QStringLiteral("Vela'Q%1.exe").arg(tag)
                                             << QStringLiteral("Vela'Q%1.exe").arg(tag) << 1;
    // "@MARK@" stands for a file that must never be created.
    QTest::newRow("hostile: semicolon") << QString() << QStringLiteral("x; touch @MARK@.exe") << 0;
    QTest::newRow("hostile: quote break-out") << QString() << QStringLiteral("x'; touch @MARK@; echo '.exe") << 0;
    QTest::newRow("hostile: command substitution") << QString() << QStringLiteral("$(touch @MARK@).exe") << 0;
    QTest::newRow("hostile: backticks") << QString() << QStringLiteral("`touch @MARK@`.exe") << 0;
    QTest::newRow("hostile: newline") << QString() << QStringLiteral("x\ntouch @MARK@\n.exe") << 0;
    QTest::newRow("hostile: pipe") << QString() << QStringLiteral("x | touch @MARK@ | cat.exe") << 0;
}

void TestCZqSharedKit::checkProgramRun()
{
    QFETCH(QString, script);
    QFETCH(QString, name);
    QFETCH(int, expected);

    const QString marker = m_dir.filePath(QStringLiteral("pwned"));
    name.replace(QStringLiteral("@MARK@"), marker);
    if (!script.isEmpty())
        QVERIFY(startScript(script));
    QCOMPARE(m_kit->checkProgramRun(name), expected);
    QVERIFY2(!QFile::exists(marker), "the name ran a command");
}

void TestCZqSharedKit::noHubYet()
{
    if (m_annotationElsewhere)
        QSKIP("a VelaAnnotation.exe runs on this machine");
    // No hub: sends go nowhere, nothing crashes, the question ends after its second.
    m_kit->ShowActiovApp(QStringLiteral("ID_APP_VELACAMERA"));
    m_kit->closeWindow(QStringLiteral("ID_APP_VELACAMERA"));
    QElapsedTimer t;
    t.start();
    QCOMPARE(m_kit->getActiveApp(), -1);
    QVERIFY2(t.elapsed() >= 900 && t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(m_kit->getTopApp(), QString());
}

void TestCZqSharedKit::answerOverBus_data()
{
    QTest::addColumn<QString>("answering");
    QTest::addColumn<int>("delay");
    QTest::addColumn<QString>("expected");

    QTest::newRow("whiteboard at once") << QStringLiteral("ID_APP_VELATOUCHPRO") << 0 << QStringLiteral("ID_APP_VELATOUCHPRO");
    QTest::newRow("assistant") << QStringLiteral("ID_APP_ASSISTANT_PLUGIN") << 100 << QStringLiteral("ID_APP_ASSISTANT_PLUGIN");
    QTest::newRow("annotation") << QStringLiteral("ID_APP_VELAANNOTATION") << 300 << QStringLiteral("ID_APP_VELAANNOTATION");
    QTest::newRow("camera late in the second") << QStringLiteral("ID_APP_VELACAMERA") << 600 << QStringLiteral("ID_APP_VELACAMERA");
    QTest::newRow("program outside the table") << QStringLiteral("ID_APP_SOMETHINGELSE") << 0 << QString();
    QTest::newRow("nobody answers") << QString() << 0 << QString();
}

void TestCZqSharedKit::answerOverBus()
{
    QFETCH(QString, answering);
    QFETCH(int, delay);
    QFETCH(QString, expected);
    if (m_annotationElsewhere)
        QSKIP("a VelaAnnotation.exe runs on this machine");
    if (!m_suite.hubRunning())
        QVERIFY(m_suite.startHub());
    // Every suite program listens; only the one in front answers.
    for (const char *id : {"ID_APP_VELATOUCHPRO", "ID_APP_ASSISTANT_PLUGIN", "ID_APP_VELAANNOTATION",
                              "ID_APP_VELACAMERA", "ID_APP_SOMETHINGELSE"})
        QVERIFY(m_suite.app(QString::fromLatin1(id)));
    m_suite.silenceAll();
    if (!answering.isEmpty())
        m_suite.app(answering)->answerAfter(delay);

    QElapsedTimer t;
    t.start();
    QCOMPARE(m_kit->getTopApp(), expected);
    if (expected.isEmpty())
        QVERIFY2(t.elapsed() >= 900, "gave up before its second");
    else
        QVERIFY2(t.elapsed() < 1500, "did not stop at the answer");
    // The question itself, as every listener received it (the answer may
    // come back before a listener that does not answer has read it).
    QTRY_COMPARE_WITH_TIMEOUT(m_suite.app(QStringLiteral("ID_APP_VELACAMERA"))->received(),
                              QStringList{kitMessage(QStringLiteral("ID_APP_IS_TOP"), QStringLiteral("ANY"))}, 2000);
}

void TestCZqSharedKit::lateAnswerDoesNotAnswerNextQuestion()
{
    if (m_annotationElsewhere)
        QSKIP("a VelaAnnotation.exe runs on this machine");
    QVERIFY(m_suite.hubRunning());
    m_suite.silenceAll();
    m_suite.app(QStringLiteral("ID_APP_VELACAMERA"))->answerAfter(1300);
    QCOMPARE(m_kit->getTopApp(), QString());
    QTest::qWait(700);   // the camera's answer arrives while nobody asks
    m_suite.silenceAll();
    m_suite.app(QStringLiteral("ID_APP_VELATOUCHPRO"))->answerAfter(200);
    QCOMPARE(m_kit->getTopApp(), QStringLiteral("ID_APP_VELATOUCHPRO"));
}

void TestCZqSharedKit::concurrentAskers_data()
{
    QTest::addColumn<QList<int>>("startMs");     // when each asker asks, on a thread of its own
    QTest::addColumn<QString>("answering");
    QTest::addColumn<int>("onlyQuestion");       // 0: every question is answered
    QTest::addColumn<int>("delay");
    QTest::addColumn<QStringList>("expected");   // what each asker gets

    const QString touch = QStringLiteral("ID_APP_VELATOUCHPRO");
    const QString camera = QStringLiteral("ID_APP_VELACAMERA");
    QTest::newRow("three at once, each answered") << QList<int>{0, 0, 0} << touch << 0 << 0
                                                  << QStringList{touch, touch, touch};
    QTest::newRow("three at once, one answer for all") << QList<int>{0, 0, 0} << camera << 1 << 300
                                                       << QStringList{camera, camera, camera};
    // The second question must not cut the first one's wait short or reset
    // it; the answer to it serves both. The third asks after that answer
    // came, and nobody answers it.
    QTest::newRow("staggered") << QList<int>{0, 400, 700} << camera << 2 << 100
                               << QStringList{camera, camera, QString()};
}

void TestCZqSharedKit::concurrentAskers()
{
    QFETCH(QList<int>, startMs);
    QFETCH(QString, answering);
    QFETCH(int, onlyQuestion);
    QFETCH(int, delay);
    QFETCH(QStringList, expected);
    if (m_annotationElsewhere)
        QSKIP("a VelaAnnotation.exe runs on this machine");
    if (!m_suite.hubRunning())
        QVERIFY(m_suite.startHub());
    FakeApp *app = m_suite.app(answering);
    QVERIFY(app);
    m_suite.silenceAll();
    app->answerAfter(delay, onlyQuestion);

    // The test's thread only waits: nothing the answers need runs on it.
    std::vector<QString> got(size_t(startMs.size()));
    std::vector<std::thread> askers;
    for (int i = 0; i < startMs.size(); ++i) {
        askers.emplace_back([this, &got, &startMs, i] {
            QThread::msleep(ulong(startMs.at(i)));
            got[size_t(i)] = m_kit->getTopApp();
        });
    }
    for (std::thread &t : askers)
        t.join();
    QStringList answers;
    for (const QString &a : got)
        answers << a;
    QCOMPARE(answers, expected);
}

void TestCZqSharedKit::showAndClose_data()
{
    QTest::addColumn<bool>("show");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("expected");
    QTest::newRow("show camera") << true << QStringLiteral("ID_APP_VELACAMERA")
                                 << kitMessage(QStringLiteral("ID_SHOW_ACTIVE"), QStringLiteral("ID_APP_VELACAMERA"));
    QTest::newRow("close annotation") << false << QStringLiteral("ID_APP_VELAANNOTATION")
                                      << kitMessage(QStringLiteral("ID_EVENT_APP_EXIT"), QStringLiteral("ID_APP_VELAANNOTATION"));
    QTest::newRow("unicode target") << true << QStringLiteral("ID_APP_白板")
                                    << kitMessage(QStringLiteral("ID_SHOW_ACTIVE"), QStringLiteral("ID_APP_白板"));
}

void TestCZqSharedKit::showAndClose()
{
    QFETCH(bool, show);
    QFETCH(QString, target);
    QFETCH(QString, expected);
    QVERIFY(m_suite.hubRunning());
    FakeApp *listener = m_suite.app(QStringLiteral("ID_APP_VELACAMERA"));
    QVERIFY(listener);
    m_suite.silenceAll();
    if (show)
        m_kit->ShowActiovApp(target);
    else
        m_kit->closeWindow(target);
    QTRY_COMPARE(listener->received(), QStringList{expected});
}

void TestCZqSharedKit::reconnectsAfterHubRestart()
{
    QVERIFY(m_suite.hubRunning());
    m_suite.clear();
    m_suite.stopHub();
    QVERIFY(m_suite.startHub());
    // (The bus library keeps subscriptions of the process across hubs, so the
    // listener here is one that never subscribed before.)
    FakeApp *listener = m_suite.app(QStringLiteral("ID_APP_VELABRIDGE"));
    QVERIFY(listener);
    // The kit's old connection died with the hub; the next use connects again.
    m_kit->ShowActiovApp(QStringLiteral("ID_APP_VELABRIDGE"));
    QTRY_COMPARE(listener->received(),
                 QStringList{kitMessage(QStringLiteral("ID_SHOW_ACTIVE"), QStringLiteral("ID_APP_VELABRIDGE"))});
}

void TestCZqSharedKit::annotationRunningCountsAsTop()
{
    QVERIFY(m_suite.hubRunning());
    FakeApp *listener = m_suite.app(QStringLiteral("ID_APP_VELABRIDGE"));
    QVERIFY(listener);
    m_suite.silenceAll();
    QVERIFY(startScript(QStringLiteral("VelaAnnotation.exe")));
    QElapsedTimer t;
    t.start();
    QCOMPARE(m_kit->getTopApp(), QStringLiteral("ID_APP_VELAANNOTATION"));
    QVERIFY2(t.elapsed() < 900, "waited for an answer it does not need");
    QTest::qWait(200);
    QVERIFY2(listener->received().isEmpty(), "asked the bus although the annotation program runs");
}

QTEST_GUILESS_MAIN(TestCZqSharedKit)
#include "tst_czqsharedkit.moc"
