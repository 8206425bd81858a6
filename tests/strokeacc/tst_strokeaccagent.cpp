#include "strokeaccagentprocess.h"
#include "xvfbserver.h"
#include "zqipc.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace {

const char kRed[] = "E01100FF00000F";
const char kRedCode[] = "7F0D99A2B3C402FFE01100FF00000FCF";

QString request(const QString &param, const QString &from = "ID_APP_VELACENTER",
                const QString &event = "ID_INKDRAW")
{
    return QJsonDocument(QJsonObject{{"eventid", event}, {"from", from}, {"param", param},
                                     {"to", "ID_APP_INKDRAW"}}).toJson();
}

// One private X server, a bus hub on a free port (handed to the agent as
// VELA_BUS_PORT), a bus client in the control centre's place and the agent,
// run from a folder of its own with its file log switched on.
struct AgentRig
{
    XvfbServer x;
    ZQIPC hub;
    ZQIPC *centre = nullptr;
    StrokeAccAgentProcess program;
    QProcess &agent = program.process();
    QStringList answers;

    ~AgentRig()
    {
        program.stop();
        delete centre;
    }
    bool startX(int w, int h) { return x.start(w, h); }
    // The first hub takes a free port; every later one (a restart, another
    // rig) takes the same, so agents started earlier find it.
    static int &port()
    {
        static int p = 0;
        return p;
    }
    bool startBus()
    {
        if (!hub.createTcpServer(port()))
            return false;
        if (port() == 0) {
            port() = hub.serverPort();
            qputenv("VELA_BUS_PORT", QByteArray::number(port()));
        }
        delete centre;
        centre = new ZQIPC;
        QObject::connect(centre, &ZQIPC::sigRecvInfo, [this](const QString &text) {
            const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
            if (!m.isEmpty())
                answers << text;
        });
        return centre->createTcpClient("ID_APP_VELACENTER", "127.0.0.1", port());
    }
    void stopBus()
    {
        delete centre;
        centre = nullptr;
        hub.closeServer();
    }
    bool startAgent(QProcess &p, const QStringList &args = {})
    {
        return program.startCopy(p, x.display(), args);
    }
    QString log() const { return program.log(); }
    void publish(const QString &text) { centre->sentInfo(text); }
    // The next answer within `ms`, or an empty text.
    QString nextAnswer(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (answers.isEmpty() && !deadline.hasExpired())
            QTest::qWait(10);
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    // Asks until the agent, connected and subscribed, answers; then lets the
    // marker time pass so the next request counts.
    bool waitServing(int ms = 15000)
    {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            publish(request(kRed));
            if (!nextAnswer(300).isEmpty()) {
                QTest::qWait(1600);
                answers.clear();
                return true;
            }
        }
        return false;
    }
};

} // namespace

class TestStrokeAccAgent : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cornerSquares_data();
    void cornerSquares();
    void repeatsWithinTheMarkerTimeAreDropped();
    void refusedRequests_data();
    void refusedRequests();
    void fileLogHoldsTheTraces();
    void secondAgentExitsZero_data();
    void secondAgentExitsZero();
    void reconnectsAfterHubRestart();
    void screensTheBoardCannotUse_data();
    void screensTheBoardCannotUse();
    void windowShowsWithoutHub();
    void closingTheWindowEndsTheAgent_data();
    void closingTheWindowEndsTheAgent();

private:
    AgentRig m_rig;
};

void TestStrokeAccAgent::initTestCase()
{
    QLoggingCategory::setFilterRules("vela.ipc.debug=false");
    QVERIFY2(m_rig.startX(1920, 1080), qPrintable(m_rig.x.errorText()));
    QVERIFY(m_rig.startBus());
    QVERIFY(m_rig.startAgent(m_rig.agent));
    QVERIFY(m_rig.waitServing());
}

void TestStrokeAccAgent::cornerSquares_data()
{
    QTest::addColumn<QString>("param");
    QTest::addColumn<QString>("code");
    QTest::addColumn<uint>("main");
    QTest::addColumn<uint>("contrast");
    QTest::newRow("red") << kRed << kRedCode << 0xFF0000u << 0xEEEEEEu;
    QTest::newRow("light grey") << "E01100C8C8C8B6" << "7F0D99A2B3C402FFE01100C8C8C8B6CF" << 0xC8C8C8u << 0x333333u;
}

void TestStrokeAccAgent::cornerSquares()
{
    QFETCH(QString, param);
    QFETCH(QString, code);
    QFETCH(uint, main);
    QFETCH(uint, contrast);
    m_rig.publish(request(param));
    const QJsonObject answer = QJsonDocument::fromJson(m_rig.nextAnswer(3000).toUtf8()).object();
    QCOMPARE(answer, (QJsonObject{{"eventid", "ID_INKDRAW"}, {"from", "ID_SDK_STROKEACCELERATE"},
                                  {"property", code}, {"scenario", "ID_SCENARIO_TEACHING"},
                                  {"to", "ID_APP_VELACENTER"}}));

    const QString d = m_rig.x.display();
    // Squares of 1920 / 480 = 4 pixels: the last pixel of each is inside,
    // the next one outside.
    const struct { int x, y, outX, outY; uint colour; } corners[] = {
        {3, 3, 4, 4, main}, {1916, 3, 1915, 4, contrast},
        {1916, 1076, 1915, 1075, main}, {3, 1076, 4, 1075, contrast}};
    for (const auto &c : corners) {
        QTRY_COMPARE_WITH_TIMEOUT(StrokeAccAgentProcess::rootPixel(d, c.x, c.y), c.colour, 1000);
        QVERIFY(StrokeAccAgentProcess::rootPixel(d, c.outX, c.outY) != c.colour);
    }
    // Gone after 1.5 s.
    QTRY_VERIFY_WITH_TIMEOUT(StrokeAccAgentProcess::rootPixel(d, 0, 0) != main, 2500);
    QTest::qWait(200);   // past the marker time for the next row
}

void TestStrokeAccAgent::repeatsWithinTheMarkerTimeAreDropped()
{
    m_rig.publish(request(kRed));
    QCOMPARE(QJsonDocument::fromJson(m_rig.nextAnswer(3000).toUtf8()).object().value("property").toString(),
             QString(kRedCode));
    QTest::qWait(1000);
    m_rig.publish(request(kRed));
    QCOMPARE(m_rig.nextAnswer(400), QString());
    QTest::qWait(200);   // 1.6 s after the accepted one
    m_rig.publish(request(kRed));
    QVERIFY(!m_rig.nextAnswer(2000).isEmpty());
    QTest::qWait(1600);
}

void TestStrokeAccAgent::refusedRequests_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("warned");
    QTest::newRow("wrong check byte") << request("E01100FF000010") << true;
    QTest::newRow("short") << request("E01100FF0000") << false;
    QTest::newRow("not E0 11") << request("E01200FF00000E") << false;
    QTest::newRow("malformed JSON") << QString("{\"eventid\":\"ID_INKDRAW\",\"param\":") << false;
    QTest::newRow("other sender") << request(kRed, "ID_APP_OTHER") << false;
    QTest::newRow("param not text") << QString("{\"eventid\":\"ID_INKDRAW\",\"from\":\"ID_APP_VELACENTER\",\"param\":[1]}") << false;
}

void TestStrokeAccAgent::refusedRequests()
{
    QFETCH(QString, text);
    QFETCH(bool, warned);
    const int warnings = m_rig.log().count("E011-recv-data error: ");
    m_rig.publish(text);
    QCOMPARE(m_rig.nextAnswer(600), QString());
    QCOMPARE(m_rig.log().count("E011-recv-data error: "), warnings + (warned ? 1 : 0));
    // Still serving, and the refused text did not count as a request.
    m_rig.publish(request(kRed));
    QVERIFY(!m_rig.nextAnswer(2000).isEmpty());
    QTest::qWait(1600);
}

void TestStrokeAccAgent::fileLogHoldsTheTraces()
{
    // "showlog.txt" beside the agent, nothing else asked for: every trace of
    // the served requests is in "log.txt", with its level word.
    const QString log = m_rig.log();
    for (const char *line : {"Debug: [velastrokeaccelerate] ----app started----", "[velastrokeaccelerate] new ipc",
                             "[velastrokeaccelerate] connect ipc: true", "[velastrokeaccelerate] reg ipc",
                             "[velastrokeaccelerate] sltRecvInfo json: ", "[velastrokeaccelerate] sParam: E01100FF00000F",
                             "[velastrokeaccelerate] sendIPC: 7F0D99A2B3C402FFE01100FF00000FCF",
                             "Warning: [velastrokeaccelerate] E011-recv-data error:  E01100FF000010"})
        QVERIFY2(log.contains(QLatin1String(line)), line);
}

void TestStrokeAccAgent::secondAgentExitsZero_data()
{
    QTest::addColumn<bool>("otherFolder");
    QTest::newRow("same folder") << false;
    // One agent per user, wherever the program lies.
    QTest::newRow("another folder") << true;
}

void TestStrokeAccAgent::secondAgentExitsZero()
{
    QFETCH(bool, otherFolder);
    StrokeAccAgentProcess elsewhere;
    StrokeAccAgentProcess &program = otherFolder ? elsewhere : m_rig.program;
    const int before = program.log().count("app already running, exit.");
    QProcess second;
    QVERIFY(program.startCopy(second, m_rig.x.display()));
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(program.log().count("app already running, exit."), before + 1);
    QCOMPARE(m_rig.agent.state(), QProcess::Running);
}

void TestStrokeAccAgent::reconnectsAfterHubRestart()
{
    m_rig.stopBus();
    QTRY_VERIFY_WITH_TIMEOUT(m_rig.log().contains("bus connection lost"), 5000);
    QTest::qWait(1500);   // a few failed attempts while no hub runs
    QVERIFY(m_rig.startBus());
    QVERIFY(m_rig.waitServing(10000));
    QCOMPARE(m_rig.agent.state(), QProcess::Running);
}

void TestStrokeAccAgent::screensTheBoardCannotUse_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<bool>("twoMonitors");
    QTest::addColumn<QString>("warning");
    QTest::newRow("1280 x 1024") << 1280 << 1024 << false
                                 << "screen resolution requires 16:9, current resolution: 1280 x 1024";
    QTest::newRow("two monitors") << 1920 << 1080 << true << "multi screen not supported, found screen: 2";
}

void TestStrokeAccAgent::screensTheBoardCannotUse()
{
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(bool, twoMonitors);
    QFETCH(QString, warning);
    // These cases run a server, bus and agent of their own.
    m_rig.stopBus();
    StrokeAccAgentProcess::stop(m_rig.agent);
    AgentRig rig;
    QVERIFY2(rig.startX(w, h), qPrintable(rig.x.errorText()));
    if (twoMonitors) {
        // Two side-by-side monitors on the one output of the server.
        Display *d = XOpenDisplay(qPrintable(rig.x.display()));
        QVERIFY(d);
        const char *names[] = {"left", "right"};
        for (int i = 0; i < 2; ++i) {
            XRRMonitorInfo *m = XRRAllocateMonitor(d, 0);
            m->name = XInternAtom(d, names[i], False);
            m->x = i * w / 2;
            m->width = w / 2;
            m->height = h;
            m->mwidth = 254;
            m->mheight = 286;
            XRRSetMonitor(d, DefaultRootWindow(d), m);
            XRRFreeMonitors(m);
        }
        XSync(d, False);
        int count = 0;
        XRRFreeMonitors(XRRGetMonitors(d, DefaultRootWindow(d), True, &count));
        XCloseDisplay(d);
        if (count != 2)
            QSKIP("this X server keeps no monitors set by clients (Xvfb 21.1 reports its one output only)");
    }
    QVERIFY(rig.startBus());
    QVERIFY(rig.startAgent(rig.agent));
    QTRY_VERIFY_WITH_TIMEOUT(rig.log().contains("reg ipc"), 10000);
    QTest::qWait(200);
    rig.publish(request(kRed));
    QTRY_VERIFY_WITH_TIMEOUT(rig.log().contains(warning), 3000);
    QCOMPARE(rig.nextAnswer(500), QString());
}

void TestStrokeAccAgent::windowShowsWithoutHub()
{
    m_rig.stopBus();
    StrokeAccAgentProcess::stop(m_rig.agent);
    AgentRig rig;
    QVERIFY2(rig.startX(1920, 1080), qPrintable(rig.x.errorText()));
    QVERIFY(rig.startAgent(rig.agent, {"-show"}));
    // The test window is up while the agent still has no hub to talk to.
    auto windowMapped = [&] {
        QProcess info;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", rig.x.display());
        info.setProcessEnvironment(env);
        info.start("xwininfo", {"-name", "VelaAcc"});
        info.waitForFinished(5000);
        return info.readAllStandardOutput().contains("IsViewable");
    };
    QTRY_VERIFY_WITH_TIMEOUT(windowMapped(), 10000);
    QVERIFY(rig.log().contains("connect ipc: false"));
    QVERIFY(rig.startBus());
    QVERIFY(rig.waitServing(10000));
}

void TestStrokeAccAgent::closingTheWindowEndsTheAgent_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("hidden window") << QStringList();
    QTest::newRow("debug window") << QStringList{"-show"};
}

void TestStrokeAccAgent::closingTheWindowEndsTheAgent()
{
    QFETCH(QStringList, args);
    m_rig.stopBus();
    StrokeAccAgentProcess::stop(m_rig.agent);
    AgentRig rig;
    QVERIFY2(rig.startX(1920, 1080), qPrintable(rig.x.errorText()));
    QVERIFY(rig.startBus());
    QVERIFY(rig.startAgent(rig.agent, args));
    QVERIFY(rig.waitServing());

    // The window manager's close request (WM_DELETE_WINDOW), as a desktop
    // sends it when the user closes the window.
    Display *d = XOpenDisplay(qPrintable(rig.x.display()));
    QVERIFY(d);
    auto findWindow = [d](Window top, auto &&self) -> Window {
        char *name = nullptr;
        if (XFetchName(d, top, &name) && name) {
            const bool match = qstrcmp(name, "VelaAcc") == 0;
            XFree(name);
            if (match)
                return top;
        }
        Window root, parent, *children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (XQueryTree(d, top, &root, &parent, &children, &count)) {
            for (unsigned i = 0; i < count && !found; ++i)
                found = self(children[i], self);
            if (children)
                XFree(children);
        }
        return found;
    };
    const Window window = findWindow(DefaultRootWindow(d), findWindow);
    QVERIFY(window);
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, window, False, NoEventMask, &event);
    XSync(d, False);
    XCloseDisplay(d);

    QVERIFY2(rig.agent.waitForFinished(5000), "the agent runs on after its window was closed");
    QCOMPARE(rig.agent.exitStatus(), QProcess::NormalExit);
    QCOMPARE(rig.agent.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestStrokeAccAgent)
#include "tst_strokeaccagent.moc"
