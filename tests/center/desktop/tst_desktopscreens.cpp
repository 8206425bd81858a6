// Runs the widget checks on private desktops of 1024, 1920 and 3840 pixels
// width, each with a window manager, as a panel of that size would have.
#include "xvfbserver.h"

#include <QProcess>
#include <QtTest>

class TestDesktopScreens : public QObject
{
    Q_OBJECT

private slots:
    void widths_data();
    void widths();
};

void TestDesktopScreens::widths_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("1024 wide") << 1024 << 768;
    QTest::newRow("1920 wide") << 1920 << 1080;
    QTest::newRow("3840 wide") << 3840 << 2160;
}

void TestDesktopScreens::widths()
{
    QFETCH(int, width);
    QFETCH(int, height);
    XvfbServer xvfb;
    QVERIFY2(xvfb.start(width, height), qPrintable(xvfb.errorText()));
    QVERIFY2(xvfb.startWindowManager(), qPrintable(xvfb.errorText()));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), xvfb.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("VELA_EXPECT_WIDTH"), QString::number(width));
    env.remove(QStringLiteral("QT_SCALE_FACTOR"));
    env.remove(QStringLiteral("QT_AUTO_SCREEN_SCALE_FACTOR"));
    QProcess checks;
    checks.setProcessEnvironment(env);
    checks.setProcessChannelMode(QProcess::MergedChannels);
    checks.start(QCoreApplication::applicationDirPath() + QStringLiteral("/desktopwidgetchecks"), QStringList());
    QVERIFY2(checks.waitForStarted(10000), qPrintable(checks.errorString()));
    const bool finished = checks.waitForFinished(150000);
    const QByteArray output = checks.readAll();
    if (!finished)
        checks.kill();
    if (!finished || checks.exitStatus() != QProcess::NormalExit || checks.exitCode() != 0)
        qWarning().noquote() << QString::fromUtf8(output);
    QVERIFY2(finished, "the widget checks did not finish");
    QCOMPARE(checks.exitStatus(), QProcess::NormalExit);
    QCOMPARE(checks.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestDesktopScreens)
#include "tst_desktopscreens.moc"
