// Synthesised keys observed by a real X client on a private Xvfb.
#include "cwincheckapp.h"
#include "xkeylistener.h"
#include "xvfbserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QtTest>

#include <X11/keysym.h>

using Operation = void (*)();
Q_DECLARE_METATYPE(Operation)

struct Step {
    bool press;
    unsigned long keysym;
};
using Steps = QVector<Step>;
Q_DECLARE_METATYPE(Steps)

class TestCWinCheckApp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void sequences_data();
    void sequences();
    void repeatedCallsKeepNoConnection();
    void noDisplay_data();
    void noDisplay();
    void serverWithoutXTest();
    void missingKeyLeavesNothingPressed();

private:
    XvfbServer m_xvfb;
    XKeyListener m_listener;
    QByteArray m_oldDisplay;
};

void TestCWinCheckApp::initTestCase()
{
    QVERIFY2(m_xvfb.start(1024, 768), qPrintable(m_xvfb.errorText()));
    m_oldDisplay = qgetenv("DISPLAY");
    // The operations open the display named by the environment.
    qputenv("DISPLAY", m_xvfb.display().toLatin1());
    QVERIFY(m_listener.open(m_xvfb.display().toLatin1()));
    QVERIFY(CWinCheckApp::instance());
    QCOMPARE(CWinCheckApp::instance(), CWinCheckApp::instance());
}

void TestCWinCheckApp::cleanupTestCase()
{
    qputenv("DISPLAY", m_oldDisplay);
}

void TestCWinCheckApp::sequences_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<Steps>("expected");

    QTest::newRow("closeWindow Alt_L+F4")
        << Operation(&CWinCheckApp::closeWindow)
        << Steps{{true, XK_Alt_L}, {true, XK_F4}, {false, XK_F4}, {false, XK_Alt_L}};
    QTest::newRow("DealDesktop Super_L+D")
        << Operation(&CWinCheckApp::DealDesktop)
        << Steps{{true, XK_Super_L}, {true, XK_D}, {false, XK_D}, {false, XK_Super_L}};
    QTest::newRow("DealWinCtrlAndTab Super_L+W")
        << Operation(&CWinCheckApp::DealWinCtrlAndTab)
        << Steps{{true, XK_Super_L}, {true, XK_W}, {false, XK_W}, {false, XK_Super_L}};
    QTest::newRow("pageUp Prior") << Operation(&CWinCheckApp::pageUp) << Steps{{true, XK_Prior}, {false, XK_Prior}};
    QTest::newRow("pageDown Next") << Operation(&CWinCheckApp::pageDown) << Steps{{true, XK_Next}, {false, XK_Next}};
}

void TestCWinCheckApp::sequences()
{
    QFETCH(Operation, operation);
    QFETCH(Steps, expected);

    QVector<XKeyListener::KeyEvent> want;
    for (const Step &s : expected) {
        const unsigned int code = m_listener.keycodeOf(s.keysym);
        QVERIFY2(code != 0, "the test server's keymap lacks a key of the sequence");
        want.append({s.press, code});
    }

    operation();
    const QVector<XKeyListener::KeyEvent> got = m_listener.collect(300);
    QCOMPARE(describe(got), describe(want));
    QVERIFY2(!m_listener.anyKeyDown(), "a key stayed down");
}

static int openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

void TestCWinCheckApp::repeatedCallsKeepNoConnection()
{
    // Each call opens and closes its own connection: nothing may pile up.
    const int before = openDescriptors();
    for (int i = 0; i < 10; ++i) {
        CWinCheckApp::pageDown();
        CWinCheckApp::pageUp();
    }
    const QVector<XKeyListener::KeyEvent> got = m_listener.collect(300);
    QCOMPARE(got.size(), 40);
    for (int i = 0; i < got.size(); i += 2) {
        QVERIFY(got.at(i).press);
        QVERIFY(!got.at(i + 1).press);
        QCOMPARE(got.at(i).keycode, got.at(i + 1).keycode);
    }
    QCOMPARE(openDescriptors(), before);
}

void TestCWinCheckApp::noDisplay_data()
{
    QTest::addColumn<QByteArray>("display");
    QTest::newRow("unset") << QByteArray();
    QTest::newRow("no such server") << QByteArray(":4711");
    QTest::newRow("garbage") << QByteArray("not a display");
}

void TestCWinCheckApp::noDisplay()
{
    QFETCH(QByteArray, display);
    if (display.isNull())
        qunsetenv("DISPLAY");
    else
        qputenv("DISPLAY", display);
    QElapsedTimer t;
    t.start();
    CWinCheckApp::closeWindow();
    CWinCheckApp::DealDesktop();
    CWinCheckApp::DealWinCtrlAndTab();
    CWinCheckApp::pageUp();
    CWinCheckApp::pageDown();
    qputenv("DISPLAY", m_xvfb.display().toLatin1());
    // Nothing reached our server, and nothing waited for a server that is not there.
    QCOMPARE(m_listener.collect(200).size(), 0);
    QVERIFY2(t.elapsed() < 5000, "an operation hung without a display");
}

void TestCWinCheckApp::serverWithoutXTest()
{
    XvfbServer plain;
    QVERIFY2(plain.start(640, 480, {QStringLiteral("-extension"), QStringLiteral("XTEST")}),
             qPrintable(plain.errorText()));
    XKeyListener listener;
    QVERIFY(listener.open(plain.display().toLatin1()));
    qputenv("DISPLAY", plain.display().toLatin1());
    CWinCheckApp::DealDesktop();
    CWinCheckApp::pageDown();
    qputenv("DISPLAY", m_xvfb.display().toLatin1());
    QCOMPARE(listener.collect(200).size(), 0);
    QVERIFY(!listener.anyKeyDown());
}

void TestCWinCheckApp::missingKeyLeavesNothingPressed()
{
    // On a keyboard without a Super key, Super_L+D must not degrade into a
    // lone D, nor leave anything held.
    QVERIFY(m_listener.unmapKeysym(XK_Super_L));
    QCOMPARE(m_listener.keycodeOf(XK_Super_L), 0u);
    CWinCheckApp::DealDesktop();
    CWinCheckApp::DealWinCtrlAndTab();
    QCOMPARE(describe(m_listener.collect(300)), QString());
    QVERIFY(!m_listener.anyKeyDown());
    // Keys that are still on the keyboard keep working.
    CWinCheckApp::pageUp();
    QCOMPARE(m_listener.collect(300).size(), 2);
}

QTEST_GUILESS_MAIN(TestCWinCheckApp)
#include "tst_cwincheckapp.moc"
