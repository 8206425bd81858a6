#include "zqserialcapture.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QString readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

using Entries = QList<QPair<qint64, QByteArray>>; // ms, "PC"/"BOARD" + ":" + hex

// The user whose capture it is, and another account on the same machine.
constexpr uid_t kUser = 65533;
constexpr uid_t kOther = 65534;
} // namespace

Q_DECLARE_METATYPE(Entries)

// The capture file of the serial line: what is written reads back the same,
// lines a person edits are understood or named, and the file stays bounded.
class TstZQSerialCapture : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void writtenReadsBack();
    void boundedAndRotated();
    void refusesPlantedFile_data();
    void refusesPlantedFile();
};

void TstZQSerialCapture::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<QList<qint64>>("linkUps");
    QTest::addColumn<QList<qint64>>("losses");
    QTest::addColumn<QStringList>("errors");

    QTest::newRow("as written") << "# vela serial capture\n+0.011 10:15:02.113 PC 7F 08 99 A2 B3 C4 02 FF 01 49 CF\n"
                                   "+1.015 10:15:03.117 BOARD 7F 09 99 A2 B3 C4 02 FF 01 49 00 CF\n# +1.018 link up, version 2\n"
                                << Entries{{11, "PC:7f0899a2b3c402ff0149cf"}, {1015, "BOARD:7f0999a2b3c402ff014900cf"}}
                                << QList<qint64>{1018} << QList<qint64>{} << QStringList{};
    QTest::newRow("edited: no wall clock, no plus, bytes run together, short fraction")
        << "2.5 BOARD 7f0899a2b3c402ffe901cf\n  +3 PC 7F 08 99 A2 B3 C4 02 FF E9 02 CF  \n\n"
        << Entries{{2500, "BOARD:7f0899a2b3c402ffe901cf"}, {3000, "PC:7f0899a2b3c402ffe902cf"}} << QList<qint64>{}
        << QList<qint64>{} << QStringList{};
    QTest::newRow("lost and back") << "+1.000 PC 01\n# +1.100 link up, version 1\n# +4.000 link lost\n"
                                      "# +9.000 port /dev/x opened at 115200 baud\n# +10.500 link up, version 2\n"
                                   << Entries{{1000, "PC:01"}} << QList<qint64>{1100, 10500} << QList<qint64>{4000}
                                   << QStringList{};
    QTest::newRow("mistakes are named by line")
        << "+1.000 PC 7F 08\n+1.100 MODEM 7F\n+x PC 7F\n+2.000 BOARD 7F 0\n+3.000 BOARD\n"
        << Entries{{1000, "PC:7f08"}} << QList<qint64>{} << QList<qint64>{}
        << QStringList{"line 2:", "line 3:", "line 4:", "line 5:"};
}

void TstZQSerialCapture::parse()
{
    QFETCH(QString, text);
    QFETCH(Entries, entries);
    QFETCH(QList<qint64>, linkUps);
    QFETCH(QList<qint64>, losses);
    QFETCH(QStringList, errors);
    const ZQSerialCapture::Parsed p = ZQSerialCapture::parse(text);
    Entries got;
    for (const ZQSerialCapture::Entry &e : p.entries)
        got.append({e.ms, (ZQSerialCapture::directionWord(e.direction) + QLatin1Char(':')).toLatin1() + e.frame.toHex()});
    QCOMPARE(got, entries);
    QList<qint64> ups;
    for (const auto &u : p.linkUps)
        ups << u.first;
    QCOMPARE(ups, linkUps);
    QCOMPARE(p.linkLosses, losses);
    QCOMPARE(p.errors.size(), errors.size());
    for (int i = 0; i < errors.size(); ++i)
        QVERIFY2(p.errors.at(i).startsWith(errors.at(i)), qPrintable(p.errors.at(i)));
}

// Frames from several threads, remarks, and a file made afresh each time:
// the earlier capture is kept as ".1", the new one is private to the user.
void TstZQSerialCapture::writtenReadsBack()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.txt"));
    {
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier run\n");
    }
    ZQSerialCapture capture;
    QVERIFY2(capture.open(path), qPrintable(capture.errorString()));
    QVERIFY(capture.open(path));   // named again (setting and option): the earlier run stays
    capture.frame(ZQSerialCapture::ToBoard, hex("7F 08 99 A2 B3 C4 02 FF 01 49 CF"));
    capture.remark(QStringLiteral("link up, version 2"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&capture, t]() {
            for (int i = 0; i < 50; ++i)
                capture.frame(t % 2 ? ZQSerialCapture::FromBoard : ZQSerialCapture::ToBoard,
                              QByteArray(1, char(t)) + QByteArray(1, char(i)));
        });
    }
    for (std::thread &t : threads)
        t.join();
    capture.close();

    QCOMPARE(readAll(path + QStringLiteral(".1")), QStringLiteral("earlier run\n"));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0600);
    const ZQSerialCapture::Parsed p = ZQSerialCapture::parse(readAll(path));
    QVERIFY2(p.errors.isEmpty(), qPrintable(p.errors.join('\n')));
    QCOMPARE(p.entries.size(), 1 + 4 * 50);
    QCOMPARE(p.entries.first().frame, hex("7F 08 99 A2 B3 C4 02 FF 01 49 CF"));
    QCOMPARE(p.linkUps.size(), 1);
    // Every thread's frames whole and in its order, with non-decreasing times.
    QVector<int> next(4, 0);
    qint64 last = 0;
    for (const ZQSerialCapture::Entry &e : p.entries.mid(1)) {
        const int t = e.frame.at(0);
        QCOMPARE(int(e.frame.at(1)), next[t]++);
        QCOMPARE(e.direction, t % 2 ? ZQSerialCapture::FromBoard : ZQSerialCapture::ToBoard);
        QVERIFY(e.ms >= last);
        last = e.ms;
    }
}

void TstZQSerialCapture::boundedAndRotated()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.txt"));
    const qint64 limit = 8192;
    ZQSerialCapture capture;
    QVERIFY(capture.open(path, limit));
    const int count = 1000; // about 60 bytes a line: several files' worth
    auto numbered = [](int i) {
        return hex("7F 0A 99 A2 B3 C4 02 FF F1 01") + QByteArray(1, char(i >> 8)) + QByteArray(1, char(i)) + hex("CF");
    };
    for (int i = 0; i < count; ++i)
        capture.frame(ZQSerialCapture::FromBoard, numbered(i));
    capture.close();
    QVERIFY(QFileInfo(path).size() <= limit);
    QVERIFY(QFileInfo(path + QStringLiteral(".1")).size() <= limit);
    QVERIFY(QFileInfo(path + QStringLiteral(".1")).size() > limit - 100);
    QVERIFY(!QFile::exists(path + QStringLiteral(".2")));
    // Each file a capture of its own; the newest frames in the current one,
    // those just before them in ".1", none lost at the seam.
    const ZQSerialCapture::Parsed older = ZQSerialCapture::parse(readAll(path + QStringLiteral(".1")));
    const ZQSerialCapture::Parsed newer = ZQSerialCapture::parse(readAll(path));
    QVERIFY(older.errors.isEmpty() && newer.errors.isEmpty());
    QVERIFY(readAll(path).startsWith(QStringLiteral("# vela serial capture")));
    QVERIFY(older.entries.size() > 100);
    QVERIFY(!newer.entries.isEmpty());
    QList<QByteArray> frames;
    for (const ZQSerialCapture::Entry &e : older.entries + newer.entries)
        frames << e.frame;
    const int first = count - frames.size();
    for (int i = 0; i < frames.size(); ++i)
        QCOMPARE(frames.at(i), numbered(first + i));
}

void TstZQSerialCapture::refusesPlantedFile_data()
{
    QTest::addColumn<bool>("asLink");
    QTest::newRow("a symbolic link to a file of the user") << true;
    QTest::newRow("a file of another user") << false;
}

// In a folder every account may write to (mode 1777, like /tmp), another
// account prepared the capture's name in advance: the user's capture neither
// writes through it nor appends to it, and says why. The capture is opened by
// a copy of this program running as the user (uid 65533); the names belong to
// uid 65534.
void TstZQSerialCapture::refusesPlantedFile()
{
    QFETCH(bool, asLink);
    if (::geteuid() != 0)
        QSKIP("needs root to act as two other users");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 01777), 0);
    const QString victim = dir.filePath(QStringLiteral("victim.txt"));
    {
        QFile f(victim);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep\n");
    }
    QCOMPARE(::chown(QFile::encodeName(victim).constData(), kUser, kUser), 0);
    const QString path = dir.filePath(QStringLiteral("line.txt"));
    for (const QString &name : {path, path + QStringLiteral(".1")}) {
        if (asLink) {
            QVERIFY(QFile::link(victim, name));
        } else {
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("theirs\n");
            QVERIFY(f.setPermissions(QFileDevice::Permissions(0x6666)));
        }
        QCOMPARE(::lchown(QFile::encodeName(name).constData(), kOther, kOther), 0);
    }

    QProcess copy;
    copy.setProcessChannelMode(QProcess::MergedChannels);
    copy.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=%1").arg(kUser), QStringLiteral("--regid=%1").arg(kUser),
                                           QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                                           QStringLiteral("--write-capture"), path});
    QVERIFY(copy.waitForFinished(10000));
    const QString said = QString::fromUtf8(copy.readAll());
    QVERIFY2(said.contains(QStringLiteral("open=0")), qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("line.txt")), qPrintable(said)); // the reason names the file
    QCOMPARE(readAll(victim), QStringLiteral("keep\n"));
    if (!asLink)
        QCOMPARE(readAll(path), QStringLiteral("theirs\n"));
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--write-capture") == 0) {
        QCoreApplication app(argc, argv);
        ZQSerialCapture capture;
        const bool open = capture.open(QString::fromLocal8Bit(argv[2]));
        capture.frame(ZQSerialCapture::ToBoard, hex("7F 08 99 A2 B3 C4 02 FF 01 49 CF"));
        std::printf("open=%d %s\n", open ? 1 : 0, qPrintable(capture.errorString()));
        return 0;
    }
    QCoreApplication app(argc, argv);
    TstZQSerialCapture test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_zqserialcapture.moc"
