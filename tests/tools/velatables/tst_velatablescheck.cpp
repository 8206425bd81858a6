// velatables check on copies of the installed tables: the tables as shipped
// are clean, and each planted fault is reported at the line it was planted
// (or at the entry it spoils), with the exit status that says so.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QStringList kTables = {"DiscCommand.xml", "control.xml", "SmSc.xml"};

struct Run
{
    int status = -1;
    QString output;
};

Run velatables(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(VELA_BIN_DIR "/velatables"), args);
    Run run;
    if (!p.waitForFinished(60000))
        return run;
    run.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.output = QString::fromUtf8(p.readAll());
    return run;
}

// A copy of the installed tables.
bool copyTables(const QString &folder)
{
    for (const QString &name : kTables)
        if (!QFile::copy(QStringLiteral(VELA_BIN_DIR "/") + name, QDir(folder).filePath(name)))
            return false;
    return true;
}

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// 1-based line of the first line holding `marker`; 0 when none does.
int lineOf(const QString &text, const QString &marker)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i)
        if (lines.at(i).contains(marker))
            return i + 1;
    return 0;
}

} // namespace

class TestVelaTablesCheck : public QObject
{
    Q_OBJECT
private slots:
    void installedTablesAreClean();
    void plantedFaults_data();
    void plantedFaults();
    void wrongUse();
};

void TestVelaTablesCheck::installedTablesAreClean()
{
    QTemporaryDir dir;
    QVERIFY(copyTables(dir.path()));
    const Run run = velatables({"check", dir.path()});
    QVERIFY2(run.status == 0, qPrintable(run.output));
    QVERIFY2(!run.output.contains(": error: ") && !run.output.contains(": warning: "), qPrintable(run.output));
    QVERIFY2(run.output.contains("0 errors, 0 warnings"), qPrintable(run.output));
    QVERIFY2(!run.output.contains(": note: "), qPrintable(run.output));
    // The requests the central-control module builds itself are told apart.
    const Run notes = velatables({"check", "--notes", dir.path()});
    QCOMPARE(notes.status, 0);
    QVERIFY2(notes.output.contains(QDir(dir.path()).filePath("control.xml") + ":30: note: GET_PRODUCT_INFO: "),
             qPrintable(notes.output));
}

void TestVelaTablesCheck::plantedFaults_data()
{
    // file: the table changed; anchor: the text the plant goes in front of
    // (empty: the file's closing tag); plant: what goes in; marker: the line
    // reported (default: the plant's first line); reported: what is reported
    // there, "@PLANT@" and "@LINE@" standing for the plant's and the marker's
    // line.
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("anchor");
    QTest::addColumn<QString>("plant");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QString>("reported");
    QTest::addColumn<int>("status");

    const QString k09 = "<key><byte byteValue=\"C3\"/><byte byteValue=\"09\"/></key>";
    auto row = [](const char *name, const QString &file, const QString &plant, const QString &reported,
                  const QString &marker = QString(), const QString &anchor = QString(), int status = 1) {
        QTest::newRow(name) << file << anchor << plant << marker << reported << status;
    };

    // What the loader skips or reads as something else.
    row("unknown commandType", "SmSc.xml",
        "<SMSC_X commandType=\"analyse\" commandParamType=\"fixed\" len=\"11\">" + k09 + "</SMSC_X>",
        "error: SMSC_X: commandType \"analyse\" is neither \"analysis\" nor \"fit\"; the entry is skipped");
    row("unknown kind", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"oneenum\" len=\"12\">" + k09 + "<V/></SMSC_X>",
        "error: SMSC_X: commandParamType \"oneenum\" is no kind; the entry is skipped");
    row("comment before the key", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"fixed\" len=\"11\"><!-- C3 09 -->" + k09 + "</SMSC_X>",
        "error: SMSC_X: the key element is not the first child node");
    row("key without bytes", "control.xml",
        "<CTRL_X commandType=\"fit\" commandParamType=\"fixed\"><key/></CTRL_X>",
        "error: CTRL_X: the key has no bytes; the entry is skipped");
    row("key byte not hexadecimal", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"fixed\" len=\"11\"><key><byte byteValue=\"C3\"/>"
        "<byte byteValue=\"G9\"/></key></SMSC_X>",
        "error: SMSC_X: key byteValue \"G9\" is not hexadecimal; read as 00");
    row("len missing", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"fixed\">" + k09 + "</SMSC_X>",
        "error: SMSC_X: len is missing or not a number; read as 0, so no frame matches");
    row("oneEnum without value element", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"oneEnum\" len=\"12\">" + k09 + "</SMSC_X>",
        "error: SMSC_X: no value element after the key; the entry is skipped");
    row("NEnum without groups", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"NEnum\" len=\"12\">" + k09 + "<!-- none --></SMSC_X>",
        "error: SMSC_X: no parameter group after the key; the entry is skipped");
    row("twoValue without position", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"twoValue\" len=\"13\">" + k09 + "<Layout/></SMSC_X>",
        "error: SMSC_X: no position item in the value element; the entry is skipped");
    row("items at two positions", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"oneEnum\" len=\"13\">" + k09
            + "<V><item value=\"00\" valueType=\"0\" position=\"10\"/><item value=\"01\" valueType=\"1\" "
              "position=\"11\"/></V></SMSC_X>",
        "error: SMSC_X: items of V give positions 10 and 11; the last, 11, counts");
    row("byte listed twice", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"oneEnum\" len=\"12\">" + k09
            + "<V><item value=\"01\" valueType=\"1\" position=\"10\"/><item value=\"01\" valueType=\"2\" "
              "position=\"10\"/></V></SMSC_X>",
        "error: SMSC_X: byte 01 is listed twice; the last, 2, counts");
    row("entry replaced", "SmSc.xml",
        "<SMSC_PRESENCE commandType=\"analysis\" commandParamType=\"fixed\" len=\"11\">"
        "<key><byte byteValue=\"C3\"/><byte byteValue=\"08\"/></key></SMSC_PRESENCE>",
        "error: SMSC_PRESENCE: replaced by the fixed entry of line @PLANT@ with the same key; this one is never used",
        "<SMSC_PRESENCE commandType=\"analysis\"");
    row("fit kind that builds nothing", "SmSc.xml",
        "<SMSC_X commandType=\"fit\" commandParamType=\"twoValue\">" + k09 + "<V><item position=\"10\"/></V></SMSC_X>",
        "error: SMSC_X: fit entries of kind \"twoValue\" build no frame; the entry is never used");
    row("not a table", "control.xml", "<CTRL_X commandType=\"fit\" commandParamType=\"fixed\">\n  <key>",
        "error: not a usable table (line @LINE@ column",
        "</control>", QString(), 1);

    // What the frame or message made for an entry shows.
    row("position outside the frame", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"oneEnum\" len=\"12\">" + k09
            + "<V><item value=\"01\" valueType=\"1\" position=\"11\"/></V></SMSC_X>",
        "error: SMSC_X: position 11 lies outside the value bytes of its frames (10 to 10 for len 12)");
    row("len too short", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"fixed\" len=\"10\">" + k09 + "</SMSC_X>",
        "error: SMSC_X: len 10 leaves no room for the header, the key (2 bytes) and the end byte");
    row("shorter key", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"fixed\" len=\"10\"><key><byte byteValue=\"C3\"/></key></SMSC_X>",
        "error: SMSC_SCREEN_STATE: the shorter key C3 (line @PLANT@, SMSC_X) claims frames with key C3 01 first",
        "<SMSC_SCREEN_STATE commandType=\"analysis\"");
    row("same key, kind looked up first", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"fixed\" len=\"12\"><key><byte byteValue=\"C3\"/>"
        "<byte byteValue=\"02\"/></key></SMSC_X>",
        "error: SMSC_BRIGHTNESS: the fixed entry of line @PLANT@ (SMSC_X) has the same key C3 02 and, looked up first, "
        "decodes its frames; this entry is never used",
        "<SMSC_BRIGHTNESS commandType=\"analysis\"");
    row("key of an earlier module", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"oneValue\" len=\"12\"><key><byte byteValue=\"C1\"/>"
        "<byte byteValue=\"02\"/></key><V/></SMSC_X>",
        "error: SMSC_X: frames with key C1 02 are claimed first by ZQTbusinessDisc (module 1, DiscCommand.xml) "
        "with key C1 02 (DiscCommand.xml:22, SET_DISC_PEN_WIDTH); this entry is never used");
    row("key of a module in code", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"fixed\" len=\"11\"><key><byte byteValue=\"E3\"/>"
        "<byte byteValue=\"01\"/></key></SMSC_X>",
        "error: SMSC_X: frames with key E3 01 are claimed first by ZQTbusinessShortCut (module 3), which decodes "
        "key E3 in code; this entry is never used");
    row("key decoded in code", "control.xml",
        "<CTRL_X commandType=\"analysis\" commandParamType=\"oneValue\" len=\"13\"><key><byte byteValue=\"F3\"/>"
        "<byte byteValue=\"50\"/></key><V/></CTRL_X>",
        "error: CTRL_X: ZQTbusinessCentralControl (module 2, control.xml) decodes key F3 50 in code; this entry is "
        "never used");
    row("NEnum without partner", "SmSc.xml",
        "<SMSC_X commandType=\"analysis\" commandParamType=\"NEnum\" len=\"12\">" + k09
            + "<G><item value=\"01\" valueType=\"1\" position=\"10\"/></G></SMSC_X>",
        "error: SMSC_X: the key search passes over NEnum entries: without an entry of another kind with the same "
        "key C3 09 (a oneString partner) no frame reaches this one");
    row("event of an earlier module", "SmSc.xml",
        "<SET_VOLUME commandType=\"fit\" commandParamType=\"oneValue\">" + k09 + "<V/></SET_VOLUME>",
        "error: SET_VOLUME: messages SET_VOLUME are claimed first by ZQTbusinessCentralControl (module 2, "
        "control.xml); this entry is never used");
    row("event of a module in code", "SmSc.xml",
        "<ID_PEN_ATTR_GET commandType=\"fit\" commandParamType=\"fixed\">" + k09 + "</ID_PEN_ATTR_GET>",
        "error: ID_PEN_ATTR_GET: messages ID_PEN_ATTR_GET are claimed first by ZQTbusinessShortCut (module 3)");
    row("fit event in two kinds", "SmSc.xml",
        "<SMSC_BRIGHTNESS commandType=\"fit\" commandParamType=\"oneEnum\">" + k09
            + "<V><item value=\"01\" valueType=\"1\" position=\"10\"/></V></SMSC_BRIGHTNESS>",
        "error: SMSC_BRIGHTNESS: the oneEnum fit entry of line @PLANT@ has the same event and, looked up first, builds "
        "its frames; this entry is never used",
        "<SMSC_BRIGHTNESS commandType=\"fit\"");
    row("fit position gap", "SmSc.xml",
        "<SMSC_X commandType=\"fit\" commandParamType=\"oneEnum\">" + k09
            + "<V><item value=\"01\" valueType=\"1\" position=\"10\"/><item value=\"02\" valueType=\"2\" "
              "position=\"12\"/></V></SMSC_X>",
        "error: SMSC_X: values at position 12 are never sent: fitted positions must run from 10");

    // A table that is not there is no error: not every panel has every table.
    QTest::newRow("table missing") << "SmSc.xml" << QString() << QString() << QString()
                                   << "SmSc.xml:0: warning: not there: its module claims nothing" << 0;
}

void TestVelaTablesCheck::plantedFaults()
{
    QFETCH(QString, file);
    QFETCH(QString, anchor);
    QFETCH(QString, plant);
    QFETCH(QString, marker);
    QFETCH(QString, reported);
    QFETCH(int, status);

    QTemporaryDir dir;
    QVERIFY(copyTables(dir.path()));
    const QString path = QDir(dir.path()).filePath(file);
    int line = 0;
    if (plant.isEmpty()) {
        QVERIFY(QFile::remove(path));
    } else {
        QString text = readText(path);
        const QString before = anchor.isEmpty() ? text.mid(text.lastIndexOf(QStringLiteral("</"))) : anchor;
        const int at = text.lastIndexOf(before);
        QVERIFY(at > 0);
        text.insert(at, plant + QStringLiteral("\n"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text.toUtf8());
        out.close();
        const int plantLine = lineOf(text, plant.section(QLatin1Char('\n'), 0, 0));
        line = marker.isEmpty() ? plantLine : lineOf(text, marker);
        QVERIFY(line > 0 && plantLine > 0);
        reported.replace(QStringLiteral("@PLANT@"), QString::number(plantLine));
        reported.replace(QStringLiteral("@LINE@"), QString::number(line));
    }
    const Run run = velatables({"check", dir.path()});
    QCOMPARE(run.status, status);
    const QString expected = plant.isEmpty() ? reported
                                             : QStringLiteral("%1:%2: %3").arg(path).arg(line).arg(reported);
    QVERIFY2(run.output.contains(expected),
             qPrintable(QStringLiteral("expected\n  %1\nin\n%2").arg(expected, run.output)));
}

void TestVelaTablesCheck::wrongUse()
{
    QCOMPARE(velatables({"check"}).status, 2);
    QCOMPARE(velatables({"check", "/no/such/folder"}).status, 2);
    QCOMPARE(velatables({"frobnicate"}).status, 2);
    QCOMPARE(velatables({"decode", "--screen", "7", "C3 01 01"}).status, 2);
    const Run notHex = velatables({"decode", "C3 0G"});
    QCOMPARE(notHex.status, 1);
    QVERIFY(notHex.output.contains("not hex bytes: C3 0G"));
}

QTEST_GUILESS_MAIN(TestVelaTablesCheck)
#include "tst_velatablescheck.moc"
