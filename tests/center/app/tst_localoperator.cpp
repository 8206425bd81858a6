#include "czqsharedkit.h"
#include "messagedialog.h"
#include "resolutioncontrol.h"
#include "toolbox.h"
#include "xvfbserver.h"
#include "zqlocaloperatoer.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Records the keys that reach it, to see what the operator synthesises.
class KeyRecorder : public QWidget
{
public:
    QList<int> keys;
    QList<Qt::KeyboardModifiers> modifiers;

protected:
    void keyPressEvent(QKeyEvent *e) override
    {
        keys << e->key();
        modifiers << e->modifiers();
    }
};

} // namespace

// The local operator's event table and launchers, with stand-in programs
// below a temporary "/opt/apps"-like root and the registry in a temporary
// apps.ini.
class TestLocalOperator : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void registryLoaded();
    void startupFrames();
    void fixedFrames_data();
    void fixedFrames();
    void installedApplicationsFrame_data();
    void installedApplicationsFrame();
    void launchByEvent_data();
    void launchByEvent();
    void guardedEntryNotStartedTwice_data();
    void guardedEntryNotStartedTwice();
    void missingStartFileShowsHint_data();
    void missingStartFileShowsHint();
    void intallPath_data();
    void intallPath();
    void annotationBesideWhiteboard();
    void runningProgramNotStartedAgain_data();
    void runningProgramNotStartedAgain();
    void noNestedOperation();
    void visualizerBurstStartsCameraOnce();
    void calculatorEnvironment_data();
    void calculatorEnvironment();
    void keyboardStartsOnboardOnce();
    void dialogPositions_data();
    void dialogPositions();
    void toolBoxPositions_data();
    void toolBoxPositions();
    void flagsOnlyRise();
    void desktopKeys_data();
    void desktopKeys();

private:
    QString writeStandIn(const QString &relPath, const QString &marker);
    QString writeRegistry(const QString &name, const QStringList &lines);
    int markerCount(const QString &marker) const;
    QString dialogText() const;
    QProcess *startFakeProcess(const QString &name);
    void stopFakeProcess(QProcess *p);

    QTemporaryDir m_dir;
    QString m_root;
    QString m_bin;
    QString m_tag;
    QWidget *m_mainWindow = nullptr;
    ZQLocalOperatoer *m_op = nullptr;
    QList<QProcess *> m_fakes;
};

QString TestLocalOperator::writeStandIn(const QString &path, const QString &marker)
{
    QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    f.write(QStringLiteral("#!/bin/sh\necho \"PATH=$PATH LD=$LD_LIBRARY_PATH\" >> '%1'\n")
                .arg(m_dir.filePath(marker))
                .toUtf8());
    f.close();
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return path;
}

QString TestLocalOperator::writeRegistry(const QString &name, const QStringList &lines)
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write("[UOSAppInfo]\n");
    for (const QString &line : lines)
        f.write(line.toUtf8() + "\n");
    return path;
}

int TestLocalOperator::markerCount(const QString &marker) const
{
    QFile f(m_dir.filePath(marker));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readAll().count('\n');
}

QString TestLocalOperator::dialogText() const
{
    MessageDialog *dialog = MessageDialog::getMessage();
    if (!dialog || dialog->isHidden())
        return QString();
    const QLabel *label = dialog->findChild<QLabel *>();
    return label ? label->text() : QString();
}

QProcess *TestLocalOperator::startFakeProcess(const QString &name)
{
    // A process whose command line holds name, as the process check looks for.
    const QString script = m_dir.filePath(QStringLiteral("running/") + name);
    QDir().mkpath(m_dir.filePath(QStringLiteral("running")));
    QFile f(script);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write("while :; do sleep 1; done\n");
    f.close();
    QProcess *p = new QProcess;
    p->start(QStringLiteral("/bin/sh"), {script});
    p->waitForStarted(5000);
    m_fakes << p;
    return p;
}

void TestLocalOperator::stopFakeProcess(QProcess *p)
{
    p->kill();
    p->waitForFinished(5000);
}

void TestLocalOperator::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_tag = QString::number(QCoreApplication::applicationPid());
    m_root = m_dir.filePath(QStringLiteral("apps")) + QLatin1Char('/');
    m_bin = m_dir.filePath(QStringLiteral("bin"));
    QDir().mkpath(m_bin);
    // Programs the operator starts by name are found through PATH.
    writeStandIn(m_bin + QStringLiteral("/onboard"), QStringLiteral("onboard.log"));
    writeStandIn(m_bin + QStringLiteral("/kylin-calculator"), QStringLiteral("calc.log"));
    qputenv("PATH", m_bin.toLocal8Bit() + ":" + qgetenv("PATH"));

    writeStandIn(m_root + QStringLiteral("clock/bin/clock.sh"), QStringLiteral("clock.log"));
    writeStandIn(m_root + QStringLiteral("spot/spot.sh"), QStringLiteral("spot.log"));
    writeStandIn(m_root + QStringLiteral("cap/cap.sh"), QStringLiteral("cap.log"));
    writeStandIn(m_root + QStringLiteral("touch/VelaTouchPro.sh"), QStringLiteral("touch.log"));
    writeStandIn(m_root + QStringLiteral("guard/guard.sh"), QStringLiteral("guard.log"));
    writeStandIn(m_root + QStringLiteral("free/free.sh"), QStringLiteral("free.log"));
    writeStandIn(m_root + QStringLiteral("bridge/bridge.sh"), QStringLiteral("bridge.log"));

    // Keys deliberately out of order: the registry is visited sorted by key.
    const QString registry = writeRegistry(QStringLiteral("apps.ini"), {
        QStringLiteral("e_cap=5|ID_SCREEN_CAPCHER|12|screenCapture|cap/cap.sh|ID_NULL|Capture"),
        QStringLiteral("b_clock=2|ID_CLOCK|7|Clock|clock/bin/clock.sh|ID_NULL|Clock"),
        QStringLiteral("a_guard=1|ID_GUARD|5|VelaGuard%1|guard/guard.sh|ID_GUARD|Guard").arg(m_tag),
        QStringLiteral("c_spot=3|ID_SPORT_LIGHT|9|Spotlight|spot/spot.sh|ID_NULL|Spotlight"),
        QStringLiteral("d_touch=4|ID_VELATOUCHPRO|1|VelaTouchPro|touch/VelaTouchPro.sh|ID_NULL|白板"),
        QStringLiteral("f_free=6|ID_FREE|300|VelaFree%1|free/free.sh|ID_NULL|Free").arg(m_tag),
        QStringLiteral("g_short=7|ID_SHORT|8|Short|short/short.sh|ID_NULL|Short"),
        QStringLiteral("i_six=9|ID_SIX|10|Six|six/six.sh|ID_NULL"),
        QStringLiteral("h_bridge=8|ID_VELABRIDGE_APP|3|VelaBridge|bridge/bridge.sh|ID_NULL|Bridge"),
    });
    ZQLocalOperatoer::setAppsRoot(m_root);
    ZQLocalOperatoer::setRegistryFile(registry);

    m_mainWindow = new QWidget;
    new MessageDialog(m_mainWindow);
    new toolBox(m_mainWindow);
    m_op = new ZQLocalOperatoer;
}

void TestLocalOperator::cleanupTestCase()
{
    for (QProcess *p : m_fakes) {
        p->kill();
        p->waitForFinished(5000);
    }
    qDeleteAll(m_fakes);
    delete m_op;
    delete m_mainWindow;
}

void TestLocalOperator::cleanup()
{
    MessageDialog::getMessage()->hideDialog();
    toolBox::getInstance()->hide();
}

void TestLocalOperator::registryLoaded()
{
    // The entry with six fields is skipped; the others keep registry order.
    const QByteArray frame = m_op->getVelaPyeInstallInfo2020();
    QCOMPARE(frame.mid(8, 2), hex("F320"));
    QCOMPARE(frame.mid(10, frame.size() - 11), hex("050709010C2C0803"));
}

void TestLocalOperator::startupFrames()
{
    QSignalSpy spy(m_op, &ZQLocalOperatoer::sigSendCommand);
    m_op->init();
    QCOMPARE(spy.count(), 4);
    QCOMPARE(spy.at(0).at(0).toByteArray(), hex("7F0899A2B3C402FF0F01CF"));
    QCOMPARE(spy.at(1).at(0).toByteArray(), hex("7F0899A2B3C402FF0131CF"));
    QCOMPARE(spy.at(2).at(0).toByteArray(), hex("7F0E99A2B3C402FFF216010101010101CF"));
    QCOMPARE(spy.at(3).at(0).toByteArray(), hex("7F0899A2B3C402FF018ACF"));
}

void TestLocalOperator::fixedFrames_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<int>("version");
    QTest::newRow("ID_APP_EXIT") << "ID_APP_EXIT"
        << QList<QByteArray>{hex("7F0A99A2B3C402FFF21004FFCF"), hex("7F0899A2B3C402FF1301CF")} << 0;
    QTest::newRow("DISC_HEART") << "DISC_HEART"
        << QList<QByteArray>{hex("7F0999A2B3C402FF0F0601CF")} << 0;
    QTest::newRow("DISC_VERSION") << "DISC_VERSION"
        << QList<QByteArray>{hex("7F0999A2B3C402FF0F0801CF")} << 2;
    const QByteArray installed = hex("7F1099A2B3C402FFF320050709010C2C0803CF");
    QTest::newRow("CHECK_VELA_APP") << "CHECK_VELA_APP" << QList<QByteArray>{installed} << 0;
    QTest::newRow("ID_GET_OPS_VELA_APP") << "ID_GET_OPS_VELA_APP" << QList<QByteArray>{installed} << 0;
    QTest::newRow("ID_DISC_CLOSE") << "ID_DISC_CLOSE" << QList<QByteArray>{} << 0;
    QTest::newRow("ID_HAS_DISC") << "ID_HAS_DISC" << QList<QByteArray>{} << 0;
    QTest::newRow("lower-case disc_version") << "disc_version" << QList<QByteArray>{} << 0;
}

void TestLocalOperator::fixedFrames()
{
    QFETCH(QString, id);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(int, version);
    QSignalSpy commands(m_op, &ZQLocalOperatoer::sigSendCommand);
    QSignalSpy versions(m_op, &ZQLocalOperatoer::sigVersionChange);
    QSignalSpy messages(m_op, &ZQLocalOperatoer::sigSendMessage);
    m_op->slotLocalOperation(id);
    QCOMPARE(commands.count(), frames.size());
    for (int i = 0; i < frames.size(); ++i)
        QCOMPARE(commands.at(i).at(0).toByteArray(), frames.at(i));
    QCOMPARE(versions.count(), version ? 1 : 0);
    if (version)
        QCOMPARE(versions.at(0).at(0).toInt(), version);
    QCOMPARE(messages.count(), 0);
}

void TestLocalOperator::installedApplicationsFrame_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("three entries") << QStringList{
        "z=1|ID_A|17|A|a/a.sh|ID_NULL|A", "m=2|ID_B|34|B|b/b.sh|ID_NULL|B",
        "a=3|ID_C|51|C|c/c.sh|ID_NULL|C"} << hex("7F0B99A2B3C402FFF320332211CF");
    QTest::newRow("empty registry") << QStringList{} << hex("7F0899A2B3C402FFF320CF");
    QTest::newRow("eight fields keep seven") << QStringList{
        "k=1|ID_A|2|A|a/a.sh|ID_NULL|A|extra"} << hex("7F0999A2B3C402FFF32002CF");
}

void TestLocalOperator::installedApplicationsFrame()
{
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, frame);
    const QString saved = ZQLocalOperatoer::registryFile();
    ZQLocalOperatoer::setRegistryFile(writeRegistry(QStringLiteral("other.ini"), lines));
    ZQLocalOperatoer op;
    ZQLocalOperatoer::setRegistryFile(saved);
    QSignalSpy spy(&op, &ZQLocalOperatoer::sigSendCommand);
    op.slotLocalOperation(QStringLiteral("CHECK_VELA_APP"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toByteArray(), frame);
    QCOMPARE(int(quint8(frame.at(1))), frame.size() - 3);
}

void TestLocalOperator::launchByEvent_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::newRow("registry event") << "ID_CLOCK" << "clock.log" << QList<QByteArray>{};
    QTest::newRow("spotlight") << "ID_SPORT_LITE" << "spot.log" << QList<QByteArray>{};
    QTest::newRow("file save") << "ID_ZQ_FILE_SAVE" << "cap.log" << QList<QByteArray>{};
    QTest::newRow("file save as") << "ID_ZQ_FILE_SAVEAS" << "cap.log" << QList<QByteArray>{};
    QTest::newRow("whiteboard") << "ID_ITEM_WHITEBOARD" << "touch.log" << QList<QByteArray>{};
    QTest::newRow("new white slide") << "ID_SLIDE_NEW_WHITE" << "touch.log" << QList<QByteArray>{};
    QTest::newRow("bridge") << "ID_VELABRIDGE" << "bridge.log" << QList<QByteArray>{};
    QTest::newRow("transparent slide") << "ID_SLIDE_NEW_TRANSPARENT" << "touch.log"
        << QList<QByteArray>{hex("7F0A99A2B3C402FFF21003FFCF")};
}

void TestLocalOperator::launchByEvent()
{
    QFETCH(QString, id);
    QFETCH(QString, marker);
    QFETCH(QList<QByteArray>, frames);
    const int before = markerCount(marker);
    QSignalSpy commands(m_op, &ZQLocalOperatoer::sigSendCommand);
    m_op->slotLocalOperation(id);
    QTRY_COMPARE_WITH_TIMEOUT(markerCount(marker), before + 1, 10000);
    QCOMPARE(commands.count(), frames.size());
    for (int i = 0; i < frames.size(); ++i)
        QCOMPARE(commands.at(i).at(0).toByteArray(), frames.at(i));
    QVERIFY(dialogText().isEmpty());
}

void TestLocalOperator::guardedEntryNotStartedTwice_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("process");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<bool>("startsAgain");
    QTest::newRow("guarded") << "ID_GUARD" << "VelaGuard" + QString::number(QCoreApplication::applicationPid()) + ".exe"
                             << "guard.log" << false;
    QTest::newRow("ID_NULL") << "ID_FREE" << "VelaFree" + QString::number(QCoreApplication::applicationPid()) + ".exe"
                             << "free.log" << true;
}

void TestLocalOperator::guardedEntryNotStartedTwice()
{
    QFETCH(QString, id);
    QFETCH(QString, process);
    QFETCH(QString, marker);
    QFETCH(bool, startsAgain);
    // Not running yet: started.
    const int before = markerCount(marker);
    m_op->slotLocalOperation(id);
    QTRY_COMPARE_WITH_TIMEOUT(markerCount(marker), before + 1, 10000);

    QProcess *fake = startFakeProcess(process);
    QVERIFY(fake->state() == QProcess::Running);
    m_op->slotLocalOperation(id);
    m_op->slotLocalOperation(id);
    if (startsAgain) {
        QTRY_COMPARE_WITH_TIMEOUT(markerCount(marker), before + 3, 10000);
    } else {
        QTest::qWait(500);
        QCOMPARE(markerCount(marker), before + 1);
    }
    fake->kill();
    fake->waitForFinished(5000);
}

void TestLocalOperator::missingStartFileShowsHint_data()
{
    QTest::addColumn<QString>("id");
    QTest::newRow("unknown event") << "ID_NOT_IN_REGISTRY";
    QTest::newRow("entry without file") << "ID_SHORT";
    QTest::newRow("smart screen not installed") << "ID_APP_VELASMARTSCREEN";
    QTest::newRow("camera not installed") << "ID_VELACAMERA";
}

void TestLocalOperator::missingStartFileShowsHint()
{
    QFETCH(QString, id);
    QVERIFY(dialogText().isEmpty());
    m_op->slotLocalOperation(id);
    // Shown once the process checks (and the question which application is
    // in front) are done, off the operator's thread.
    QTRY_COMPARE(dialogText(), QStringLiteral("应用未安装"));
    const QPoint center = resolutionControl::getScreenCenter();
    QCOMPARE(MessageDialog::getMessage()->pos(), center);
}

void TestLocalOperator::intallPath_data()
{
    QTest::addColumn<QString>("arg");
    QTest::addColumn<QString>("expected");
    QTest::newRow("registry name") << "Tavolix\\VelaTouchPro" << "touch/VelaTouchPro.sh";
    QTest::newRow("plain path") << "clock/bin/clock.sh" << "";
    QTest::newRow("unknown name") << "Tavolix\\VelaDriver" << "";
    QTest::newRow("name without prefix") << "Clock" << "clock/bin/clock.sh";
}

void TestLocalOperator::intallPath()
{
    QFETCH(QString, arg);
    QFETCH(QString, expected);
    bool isUos = false;
    QCOMPARE(m_op->getIntallPath(arg, isUos), m_root + expected);
    QVERIFY(isUos);
}

void TestLocalOperator::annotationBesideWhiteboard()
{
    if (CZqSharedKit::getInstence()->checkProgramRun(QStringLiteral("VelaAnnotation.exe")) == 1)
        QSKIP("a VelaAnnotation.exe runs on this machine");
    // Without VelaAnnotation.sh the whiteboard's start file is used...
    int before = markerCount(QStringLiteral("touch.log"));
    m_op->slotLocalOperation(QStringLiteral("VELAANNOTATION"));
    QTRY_COMPARE_WITH_TIMEOUT(markerCount(QStringLiteral("touch.log")), before + 1, 10000);
    // ...with it beside the whiteboard's, the annotation program starts.
    writeStandIn(m_root + QStringLiteral("touch/VelaAnnotation.sh"), QStringLiteral("annotation.log"));
    before = markerCount(QStringLiteral("touch.log"));
    m_op->slotLocalOperation(QStringLiteral("ID_ITEM_STROKE_CHALK"));
    QTRY_COMPARE_WITH_TIMEOUT(markerCount(QStringLiteral("annotation.log")), 1, 10000);
    QCOMPARE(markerCount(QStringLiteral("touch.log")), before);
    QFile::remove(m_root + QStringLiteral("touch/VelaAnnotation.sh"));
}

void TestLocalOperator::runningProgramNotStartedAgain_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("process");
    QTest::addColumn<QString>("marker");
    QTest::newRow("annotation") << "VELAANNOTATION" << "VelaAnnotation.exe" << "touch.log";
    QTest::newRow("annotation for a transparent slide") << "ID_SLIDE_NEW_TRANSPARENT" << "VelaAnnotation.exe" << "touch.log";
    QTest::newRow("whiteboard") << "ID_ITEM_WHITEBOARD" << "VelaTouchPro.exe" << "touch.log";
    QTest::newRow("bridge") << "ID_VELABRIDGE" << "VelaBridge.exe" << "bridge.log";
}

void TestLocalOperator::runningProgramNotStartedAgain()
{
    QFETCH(QString, id);
    QFETCH(QString, process);
    QFETCH(QString, marker);
    QProcess *fake = startFakeProcess(process);
    QVERIFY(fake->state() == QProcess::Running);
    const int before = markerCount(marker);
    m_op->slotLocalOperation(id);
    // The check and what follows it (at most a second's question) are over
    // by then.
    QTest::qWait(2500);
    stopFakeProcess(fake);
    QCOMPARE(markerCount(marker), before);
    QVERIFY(dialogText().isEmpty());
}

void TestLocalOperator::noNestedOperation()
{
    // Queued requests, as the business modules' requests arrive: each must
    // run to its end before the next one starts, whatever it waits for.
    int depth = 0;
    int deepest = 0;
    int done = 0;
    const QStringList ids = {"ID_ITEM_VISUALIZER", "ID_NOT_IN_REGISTRY", "DISC_HEART", "ID_VELABRIDGE",
                             "ID_ITEM_WHITEBOARD", "ID_SPORT_LITE", "ID_APP_VELASMARTSCREEN", "DISC_HEART"};
    for (const QString &id : ids) {
        QMetaObject::invokeMethod(m_op, [&, id]() {
            deepest = qMax(deepest, ++depth);
            m_op->slotLocalOperation(id);
            --depth;
            ++done;
        }, Qt::QueuedConnection);
    }
    QTRY_COMPARE_WITH_TIMEOUT(done, ids.size(), 20000);
    QCOMPARE(deepest, 1);
    // What the checks decide comes back later; let it finish here.
    QTest::qWait(2500);
}

void TestLocalOperator::visualizerBurstStartsCameraOnce()
{
    writeStandIn(m_root + QStringLiteral("camera/VelaCamera.sh"), QStringLiteral("camera.log"));
    const QString saved = ZQLocalOperatoer::registryFile();
    ZQLocalOperatoer::setRegistryFile(writeRegistry(QStringLiteral("camera.ini"), {
        QStringLiteral("a_camera=1|ID_CAMERA|4|VelaCamera|camera/VelaCamera.sh|ID_NULL|Camera")}));
    {
        ZQLocalOperatoer op;
        QSignalSpy messages(&op, &ZQLocalOperatoer::sigSendMessage);
        // Five presses in a row, as the business modules' requests arrive.
        for (int i = 0; i < 5; ++i)
            QMetaObject::invokeMethod(&op, "slotLocalOperation", Qt::QueuedConnection,
                                      Q_ARG(QString, QStringLiteral("ID_ITEM_VISUALIZER")));
        QTRY_COMPARE_WITH_TIMEOUT(markerCount(QStringLiteral("camera.log")), 1, 10000);
        QTest::qWait(2500);
        QCOMPARE(markerCount(QStringLiteral("camera.log")), 1);
        // The presentation was asked to close once, before the camera started.
        QCOMPARE(messages.count(), 1);
        QCOMPARE(QJsonDocument::fromJson(messages.at(0).at(0).toString().toUtf8()).object().value("eventid").toString(),
                 QStringLiteral("ID_APP_EXIT"));
    }
    ZQLocalOperatoer::setRegistryFile(saved);
}

void TestLocalOperator::calculatorEnvironment_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("ld");       // null: unset
    QTest::addColumn<QByteArray>("childPath");
    QTest::addColumn<QByteArray>("childLd");
    const QByteArray prefix = "/usr/lib/x86_64-linux-gnu:";
    const QByteArray own = qgetenv("PATH");
    QTest::newRow("without prefix") << own << QByteArray("/opt/lib") << prefix + own << prefix + "/opt/lib";
    QTest::newRow("with prefix") << prefix + own << QByteArray("/opt/lib") << prefix + own << QByteArray("/opt/lib");
    // No empty element (the current directory) after the prefix.
    QTest::newRow("library path unset") << own << QByteArray() << prefix + own << QByteArray("/usr/lib/x86_64-linux-gnu");
    QTest::newRow("library path empty") << own << QByteArray("") << prefix + own << QByteArray("/usr/lib/x86_64-linux-gnu");
}

void TestLocalOperator::calculatorEnvironment()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, ld);
    QFETCH(QByteArray, childPath);
    QFETCH(QByteArray, childLd);
    const QByteArray savedPath = qgetenv("PATH");
    const QByteArray savedLd = qgetenv("LD_LIBRARY_PATH");
    qputenv("PATH", path);
    if (ld.isNull())
        qunsetenv("LD_LIBRARY_PATH");
    else
        qputenv("LD_LIBRARY_PATH", ld);
    QFile::remove(m_dir.filePath(QStringLiteral("calc.log")));

    m_op->slotLocalOperation(QStringLiteral("ID_CALCULATOR"));
    // The centre's own environment is left as it was.
    QCOMPARE(qgetenv("PATH"), path);
    QCOMPARE(qgetenv("LD_LIBRARY_PATH"), ld);
    QCOMPARE(qEnvironmentVariableIsSet("LD_LIBRARY_PATH"), !ld.isNull());
    QTRY_COMPARE_WITH_TIMEOUT(markerCount(QStringLiteral("calc.log")), 1, 10000);
    QFile log(m_dir.filePath(QStringLiteral("calc.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray line = log.readAll().trimmed();
    QCOMPARE(line, "PATH=" + childPath + " LD=" + childLd);

    qputenv("PATH", savedPath);
    if (savedLd.isNull())
        qunsetenv("LD_LIBRARY_PATH");
    else
        qputenv("LD_LIBRARY_PATH", savedLd);
}

void TestLocalOperator::keyboardStartsOnboardOnce()
{
    for (int i = 0; i < 3; ++i) {
        m_op->slotLocalOperation(QStringLiteral("ID_KEYBOARD"));
        QTest::qWait(100);
    }
    // The third request restarted the delay: nothing yet 100 ms after it.
    QCOMPARE(markerCount(QStringLiteral("onboard.log")), 0);
    QTRY_COMPARE_WITH_TIMEOUT(markerCount(QStringLiteral("onboard.log")), 1, 10000);
    QTest::qWait(400);
    QCOMPARE(markerCount(QStringLiteral("onboard.log")), 1);
}

void TestLocalOperator::dialogPositions_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("shown");
    QTest::newRow("right of point") << 0 << true;
    QTest::newRow("left of point") << 1 << true;
    QTest::newRow("above point") << 2 << true;
    QTest::newRow("unknown") << 3 << false;
    QTest::newRow("negative") << -1 << false;
}

void TestLocalOperator::dialogPositions()
{
    QFETCH(int, position);
    QFETCH(bool, shown);
    const double x = 500, y = 400;
    m_op->slotShowDialog(position, x, y);
    if (!shown) {
        QVERIFY(dialogText().isEmpty());
        return;
    }
    QCOMPARE(dialogText(), QStringLiteral("该模式下此功能不可用"));
    MessageDialog *d = MessageDialog::getMessage();
    const QPoint expected = position == 0 ? QPoint(506, 400)
                          : position == 1 ? QPoint(int(x - d->width() - 6), 400)
                                          : QPoint(500, int(y - d->height()));
    QCOMPARE(d->pos(), expected);
}

void TestLocalOperator::toolBoxPositions_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("shown");
    QTest::newRow("left edge") << 0 << true;
    QTest::newRow("right edge") << 1 << true;
    QTest::newRow("above point") << 2 << true;
    QTest::newRow("unknown") << 7 << false;
}

void TestLocalOperator::toolBoxPositions()
{
    QFETCH(int, position);
    QFETCH(bool, shown);
    toolBox *box = toolBox::getInstance();
    const double s = resolutionControl::getScale();
    m_op->slotShowToolBox(position, 300, 600);
    QCOMPARE(box->isVisible(), shown);
    if (!shown)
        return;
    const QPoint expected = position == 0 ? QPoint(int(68 * s), int(788 * s))
                          : position == 1 ? QPoint(int(1718 * s), int(788 * s))
                                          : QPoint(300, 600 - box->height());
    QCOMPARE(box->pos(), expected);

    // A toolbox button runs its operation and closes the box.
    const int before = markerCount(QStringLiteral("clock.log"));
    emit box->sigClock(false);
    QVERIFY(box->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(markerCount(QStringLiteral("clock.log")), before + 1, 10000);
}

void TestLocalOperator::flagsOnlyRise()
{
    ZQLocalOperatoer op;
    QVERIFY(!op.hasDisc());
    QVERIFY(!op.isBusinessMonitors());
    op.slotLocalOperation(QStringLiteral("ID_HAS_DISC"));
    QVERIFY(op.hasDisc());
    QVERIFY(!op.isBusinessMonitors());
    op.slotLocalOperation(QStringLiteral("ID_IS_BUSINESS_MONITORS"));
    op.slotLocalOperation(QStringLiteral("ID_HAS_DISC"));
    QVERIFY(op.hasDisc());
    QVERIFY(op.isBusinessMonitors());
}

void TestLocalOperator::desktopKeys_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("showDialog");
    QTest::addColumn<QList<int>>("keys");
    QTest::newRow("next slide") << "ID_SLIDE_NEXT" << false << QList<int>{Qt::Key_PageDown};
    QTest::newRow("previous slide") << "ID_SLIDE_PRE" << false << QList<int>{Qt::Key_PageUp};
    QTest::newRow("close top window") << "ID_ZQ_FILE_CLOSE" << false
                                      << QList<int>{Qt::Key_Alt, Qt::Key_F4};
    QTest::newRow("close while hint shown") << "ID_ZQ_FILE_CLOSE" << true << QList<int>{};
}

void TestLocalOperator::desktopKeys()
{
    QFETCH(QString, id);
    QFETCH(bool, showDialog);
    QFETCH(QList<int>, keys);
    KeyRecorder recorder;
    recorder.setGeometry(100, 100, 200, 200);
    recorder.show();
    recorder.activateWindow();
    recorder.setFocus();
    QVERIFY(QTest::qWaitForWindowActive(&recorder, 5000));
    if (showDialog)
        MessageDialog::getMessage()->showDialog(QStringLiteral("busy"), 900, 900);
    m_op->slotLocalOperation(id);
    if (keys.isEmpty()) {
        QTest::qWait(300);
        QCOMPARE(recorder.keys, QList<int>{});
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(recorder.keys, keys, 5000);
}

// The keys the operator synthesises go to whatever window has the focus, so
// the test gets an X server of its own rather than the shared one.
int main(int argc, char **argv)
{
    XvfbServer xserver;
    if (!xserver.start(1920, 1080)) {
        fprintf(stderr, "could not start Xvfb: %s\n", qPrintable(xserver.errorText()));
        return 1;
    }
    qputenv("DISPLAY", xserver.display().toLatin1());
    QApplication app(argc, argv);
    TestLocalOperator test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_localoperator.moc"
