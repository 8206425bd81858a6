#include "velacenterrig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kAppDir = QStringLiteral("opt/apps/vela");
const QString kConfigDir = QStringLiteral("etc/opt/vela");

// Runs a program to its end; the exit code, or -1 when it did not run or end.
int run(const QString &program, const QStringList &args, QByteArray *out, int timeoutMs = 60000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return -1;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        return -1;
    }
    *out = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Non-empty lines; the same on every Qt 5 (no split behaviour argument).
QStringList lines(const QByteArray &text)
{
    QStringList out;
    for (const QByteArray &l : text.split('\n'))
        if (!l.isEmpty())
            out << QString::fromUtf8(l);
    return out;
}

} // namespace

// The Debian package that scripts/package.sh made from this build (the
// package_build test runs it first): what it carries, what lintian says of
// it, and its velacenter, unpacked into a scratch root, against the
// simulator that came with it.
class TestPackage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void contents_data();
    void contents();
    void nothingOutsideItsFolders();
    void control();
    void lintian();
    void unpackedCentre();

private:
    struct Entry
    {
        QString mode;   // as "ls -l" shows it, e.g. -rwxr-xr-x
        QString owner;  // user/group
        QString target; // of a symbolic link
    };
    QString m_deb;
    QMap<QString, Entry> m_entries; // path without the leading "./"
    QTemporaryDir m_root;           // the package unpacked
    QTemporaryDir m_control;        // its control files
};

void TestPackage::initTestCase()
{
    const QStringList debs = QDir(QStringLiteral(VELA_DEB_DIR)).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QVERIFY2(debs.size() == 1, qPrintable(QStringLiteral("expected one package in " VELA_DEB_DIR ", found: ")
                                          + debs.join(QLatin1Char(' '))));
    m_deb = QStringLiteral(VELA_DEB_DIR "/") + debs.first();

    QByteArray out;
    QCOMPARE(run(QStringLiteral("dpkg-deb"), {QStringLiteral("--contents"), m_deb}, &out), 0);
    static const QRegularExpression line(
        QStringLiteral("^(\\S+)\\s+(\\S+)\\s+\\d+\\s+\\S+\\s+\\S+\\s+\\./(.*?)(?: -> (.*))?$"));
    for (const QString &l : lines(out)) {
        const QRegularExpressionMatch m = line.match(l);
        QVERIFY2(m.hasMatch(), qPrintable(l));
        QString path = m.captured(3);
        if (path.endsWith(QLatin1Char('/')))
            path.chop(1);
        if (!path.isEmpty())
            m_entries.insert(path, Entry{m.captured(1), m.captured(2), m.captured(4)});
    }
    QVERIFY(m_root.isValid() && m_control.isValid());
    QCOMPARE(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root.path()}, &out), 0);
    QCOMPARE(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-e"), m_deb, m_control.filePath("DEBIAN")}, &out), 0);
}

void TestPackage::contents_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("mode");   // expected mode, "l" for a link
    QTest::addColumn<QString>("target"); // of a link

    const QString bin = kAppDir + QStringLiteral("/bin/");
    const QString program = QStringLiteral("-rwxr-xr-x");
    const QString data = QStringLiteral("-rw-r--r--");
    const QString link = QStringLiteral("l");
    for (const char *p : {"velacenter", "serialtest", "zqbus", "boardsim", "velatables", "VelaStrokeAccelerate", "velabridge"})
        QTest::newRow(p) << bin + QLatin1String(p) << program << QString();
    for (const char *t : {"DiscCommand.xml", "control.xml", "SmSc.xml", "resHandler.so"})
        QTest::newRow(t) << bin + QLatin1String(t) << data << QString();

    // The settings are conffiles in /etc/opt, linked from where the programs read them.
    for (const char *s : {"apps.ini", "version.ini"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1 in /etc").arg(QLatin1String(s))))
            << kConfigDir + QLatin1Char('/') + QLatin1String(s) << data << QString();
        QTest::newRow(qPrintable(QStringLiteral("%1 beside the programs").arg(QLatin1String(s))))
            << bin + QLatin1String(s) << link << QStringLiteral("/") + kConfigDir + QLatin1Char('/') + QLatin1String(s);
    }

    // Each library with its soname link and the link a build links against.
    const QString version = QStringLiteral(VELA_VERSION);
    const QString major = version.section(QLatin1Char('.'), 0, 0);
    for (const char *l : {"zqipc", "sharedkit", "serialhub", "nethub"}) {
        const QString base = QStringLiteral("lib%1.so").arg(QLatin1String(l));
        const QString lib = kAppDir + QStringLiteral("/lib/");
        QTest::newRow(qPrintable(base + QLatin1Char('.') + version)) << lib + base + QLatin1Char('.') + version << data << QString();
        QTest::newRow(qPrintable(base + QLatin1Char('.') + major))
            << lib + base + QLatin1Char('.') + major << link << base + QLatin1Char('.') + version;
        QTest::newRow(qPrintable(base)) << lib + base << link << base + QLatin1Char('.') + major;
    }
    for (const char *h : {"zqipc.h", "czqsharedkit.h"})
        QTest::newRow(h) << kAppDir + QStringLiteral("/include/vela/") + QLatin1String(h) << data << QString();
    for (const char *c : {"VelaConfig.cmake", "VelaConfigVersion.cmake", "VelaTargets.cmake"})
        QTest::newRow(c) << kAppDir + QStringLiteral("/lib/cmake/Vela/") + QLatin1String(c) << data << QString();

    for (const char *a : {"velacenter.desktop", "VelaStrokeAccelerate.desktop", "velabridge.desktop"})
        QTest::newRow(a) << QStringLiteral("etc/xdg/autostart/") + QLatin1String(a) << data << QString();
    QTest::newRow("udev rule") << "lib/udev/rules.d/70-vela-mainboard.rules" << data << QString();
    QTest::newRow("copyright") << "usr/share/doc/vela/copyright" << data << QString();
    QTest::newRow("changelog") << "usr/share/doc/vela/changelog.gz" << data << QString();
}

void TestPackage::contents()
{
    QFETCH(QString, path);
    QFETCH(QString, mode);
    QFETCH(QString, target);
    QVERIFY2(m_entries.contains(path), qPrintable(path + QStringLiteral(" is not in the package")));
    const Entry e = m_entries.value(path);
    QCOMPARE(e.owner, QStringLiteral("root/root"));
    if (mode == QLatin1String("l")) {
        QVERIFY2(e.mode.startsWith(QLatin1Char('l')), qPrintable(e.mode));
        QCOMPARE(e.target, target);
        // Links inside the program folder resolve in the unpacked tree too.
        if (!target.startsWith(QLatin1Char('/')))
            QVERIFY2(QFileInfo(m_root.filePath(path)).isFile(), qPrintable(path + QStringLiteral(" does not resolve")));
    } else {
        QCOMPARE(e.mode, mode);
    }
}

void TestPackage::nothingOutsideItsFolders()
{
    // The program folder and the few places the system looks in: settings,
    // the desktop's autostart, udev, and what Debian wants of every package.
    const QStringList places = {kAppDir, kConfigDir, QStringLiteral("etc/xdg/autostart"),
                                QStringLiteral("lib/udev/rules.d"), QStringLiteral("usr/share/doc/vela"),
                                QStringLiteral("usr/share/lintian/overrides")};
    QStringList stray;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        const QString &path = it.key();
        bool ok = false;
        for (const QString &place : places)
            ok = ok || path == place || path.startsWith(place + QLatin1Char('/'))
                 || (place.startsWith(path + QLatin1Char('/')) && it->mode.startsWith(QLatin1Char('d')));
        if (!ok || path.startsWith(QLatin1String("usr/lib")))
            stray << path;
    }
    QVERIFY2(stray.isEmpty(), qPrintable(stray.join(QLatin1Char(' '))));
}

void TestPackage::control()
{
    QByteArray depends;
    QCOMPARE(run(QStringLiteral("dpkg-deb"), {QStringLiteral("--field"), m_deb, QStringLiteral("Depends")}, &depends), 0);
    // Computed from the binaries: versioned, and only what they link.
    for (const char *needed : {"libc6 (>= ", "libqt5core5a (>= ", "libqt5serialport5 (>= ", "libqt5widgets5 (>= ",
                               "libmosquitto1 (>= "})
        QVERIFY2(depends.contains(needed), depends.constData());
    QVERIFY2(!depends.contains("libqt5test5"), depends.constData());

    // Every file in /etc is a conffile, so an upgrade keeps its edits.
    QFile conffiles(m_control.filePath(QStringLiteral("DEBIAN/conffiles")));
    QVERIFY(conffiles.open(QIODevice::ReadOnly));
    QStringList listed = lines(conffiles.readAll());
    QStringList inEtc;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
        if (it.key().startsWith(QLatin1String("etc/")) && it->mode.startsWith(QLatin1Char('-')))
            inEtc << QStringLiteral("/") + it.key();
    listed.sort();
    inEtc.sort();
    QCOMPARE(listed, inEtc);
    QVERIFY(QFileInfo(m_control.filePath(QStringLiteral("DEBIAN/postinst"))).isExecutable());

    // The autostart entries start programs of the package.
    const QStringList entries = QDir(m_root.filePath(QStringLiteral("etc/xdg/autostart"))).entryList(QDir::Files);
    QCOMPARE(entries.size(), 3);
    for (const QString &name : entries) {
        QSettings entry(m_root.filePath(QStringLiteral("etc/xdg/autostart/") + name), QSettings::IniFormat);
        const QString exec = entry.value(QStringLiteral("Desktop Entry/Exec")).toString();
        QVERIFY2(exec.startsWith(QStringLiteral("/") + kAppDir + QStringLiteral("/bin/")), qPrintable(exec));
        QVERIFY2(QFileInfo(m_root.filePath(exec.mid(1))).isExecutable(), qPrintable(exec));
        QCOMPARE(entry.value(QStringLiteral("Desktop Entry/Type")).toString(), QStringLiteral("Application"));
        // Once the package is removed (its conffiles stay), the desktop skips the entry.
        QCOMPARE(entry.value(QStringLiteral("Desktop Entry/TryExec")).toString(), exec);
    }
}

void TestPackage::lintian()
{
    QByteArray out;
    const int code = run(QStringLiteral("lintian"), {QStringLiteral("--fail-on"), QStringLiteral("error"), m_deb}, &out, 180000);
    QVERIFY2(code != -1, "lintian did not run (scripts/install-deps.sh installs it)");
    QStringList errors;
    for (const QString &l : lines(out)) {
        if (l.startsWith(QLatin1String("E: ")))
            errors << l;
        else if (l.startsWith(QLatin1String("W: ")))
            qInfo("%s", qPrintable(l));
    }
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    QVERIFY2(code == 0, out.constData());
}

void TestPackage::unpackedCentre()
{
    // The links beside the programs name /etc/opt/vela, which in a scratch
    // root is the build machine's own (or nothing). The root stands in for
    // "/": the links are pointed at the same files below it.
    const QString bin = m_root.filePath(kAppDir + QStringLiteral("/bin"));
    for (const char *s : {"apps.ini", "version.ini"}) {
        const QString link = bin + QLatin1Char('/') + QLatin1String(s);
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(m_root.filePath(kConfigDir + QLatin1Char('/') + QLatin1String(s)), link));
    }
    // Only the relative RPATH may lead the programs to their libraries.
    qunsetenv("LD_LIBRARY_PATH");

    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.programDir = bin;
    // The rig writes the simulator's line into the version.ini the link
    // leads to: the link comes up only if the centre read that file.
    QVERIFY2(rig.start(options), qPrintable(rig.error()));

    QFile maps(QStringLiteral("/proc/%1/maps").arg(rig.centre().processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QString mapped = QString::fromUtf8(maps.readAll());
    const QString lib = QFileInfo(m_root.filePath(kAppDir + QStringLiteral("/lib"))).canonicalFilePath() + QLatin1Char('/');
    for (const char *l : {"libzqipc.so", "libserialhub.so", "libsharedkit.so"}) {
        static const QRegularExpression path(QStringLiteral("\\s(/\\S+)$"), QRegularExpression::MultilineOption);
        QStringList from;
        for (auto it = path.globalMatch(mapped); it.hasNext();) {
            const QString p = it.next().captured(1);
            if (QFileInfo(p).fileName().startsWith(QLatin1String(l)))
                from << p;
        }
        QVERIFY2(!from.isEmpty(), l);
        for (const QString &p : from)
            QVERIFY2(p.startsWith(lib), qPrintable(p));
    }

    // A board frame no module claims reaches a bus client as JSON.
    int fromMsg = rig.busMessages().size();
    rig.boardSend(QStringLiteral("frame 12 34 56 78"));
    QVERIFY2(rig.waitBusMessage(VelaCenterRig::eventAnyWithParam(QByteArray::fromHex("12345678")), 10000, nullptr, fromMsg),
             qPrintable(rig.busMessages().join(QLatin1Char('\n'))));

    // One the installed tables know comes out as their event.
    fromMsg = rig.busMessages().size();
    rig.boardSend(QStringLiteral("frame C3 02 32"));
    QJsonObject msg;
    QVERIFY(rig.waitBusMessage(
        [](const QJsonObject &o) { return o.value(QStringLiteral("eventid")).toString() == QLatin1String("SMSC_BRIGHTNESS"); },
        10000, &msg, fromMsg));
    QCOMPARE(msg.value(QStringLiteral("param")).toArray().at(0).toObject().value(QStringLiteral("value")).toInt(), 50);

    // A bus message reaches the board as a frame.
    const QByteArray down = QByteArray::fromHex("12345678");
    const int fromFrame = rig.boardReceivedCount();
    QCOMPARE(rig.sendToCentre(VelaCenterRig::eventAny(down, QStringLiteral("ID_APP_VELACENTER"))), 0);
    QVERIFY(rig.waitBoardReceived(VelaCenterRig::frameOf(down), 10000, fromFrame));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
