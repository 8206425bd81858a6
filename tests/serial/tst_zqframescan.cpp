#include "zqframescan.h"
#include "zqserialread.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// A frame as the board would send it: header, command bytes, data, end byte.
QByteArray makeFrame(QRandomGenerator &rng, int len)
{
    QByteArray f = hex("7F 00 99 A2 B3 C4 02 FF");
    f[1] = char(len);
    for (int i = 8; i < len + 2; ++i)
        f.append(char(rng.bounded(256)));
    // A length byte of 0x0A with CF at offset 11 is a 12-byte frame by rule,
    // so a 13-byte frame must not carry CF there.
    if (len == 0x0A && quint8(f.at(11)) == 0xCF)
        f[11] = 0x00;
    f.append(char(0xCF));
    return f;
}

bool wellFormed(const QByteArray &f)
{
    if (f.size() < 9 || f.size() > 130 || f.at(0) != char(0x7F) || f.at(2) != char(0x99)
        || f.at(7) != char(0xFF) || f.back() != char(0xCF))
        return false;
    const int len = static_cast<signed char>(f.at(1));
    return f.size() == len + 3 || (len == 0x0A && f.size() == 12);
}
} // namespace

class TstZQFrameScan : public QObject
{
    Q_OBJECT
private slots:
    void scan_data();
    void scan();
    void scanRepeated_data();
    void scanRepeated();
    void randomStreams_data();
    void randomStreams();
    void checkCmdLeavesFrameAlone();
};

void TstZQFrameScan::scan_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("frame");  // empty: none cut
    QTest::addColumn<QByteArray>("rest");

    const QByteArray test = hex("7F 08 99 A2 B3 C4 02 FF 01 49 CF");
    const QByteArray heart = hex("7F 09 99 A2 B3 C4 02 FF 0F 08 02 CF");
    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("test frame exactly") << test << test << QByteArray();
    QTest::newRow("heart frame exactly") << heart << heart << QByteArray();
    QTest::newRow("two frames, first cut") << test + heart << test << heart;
    QTest::newRow("seven bytes") << test.left(7) << QByteArray() << test.left(7);
    QTest::newRow("start byte with six behind") << hex("7F 08 99 A2 B3 C4 02") << QByteArray()
                                                << hex("7F 08 99 A2 B3 C4 02");
    QTest::newRow("frame short by its end byte") << test.left(10) << QByteArray() << test.left(10);
    QTest::newRow("leading garbage goes with the frame") << hex("01 02 CF 03") + test << test << QByteArray();
    QTest::newRow("CF inside data, end not yet here") << hex("7F 09 99 A2 B3 C4 02 FF 01 CF 05") << QByteArray()
                                                      << hex("7F 09 99 A2 B3 C4 02 FF 01 CF 05");
    QTest::newRow("CF inside data, end here") << hex("7F 09 99 A2 B3 C4 02 FF 01 CF 05 CF 44")
                                              << hex("7F 09 99 A2 B3 C4 02 FF 01 CF 05 CF") << hex("44");
    QTest::newRow("CF at the header's free bytes") << hex("7F 09 99 CF CF C4 02 FF 0F 08 02 CF")
                                                   << hex("7F 09 99 CF CF C4 02 FF 0F 08 02 CF") << QByteArray();
    QTest::newRow("length 0A closing at 11: 12 bytes") << hex("7F 0A 99 A2 B3 C4 02 FF 01 49 00 CF 55")
                                                       << hex("7F 0A 99 A2 B3 C4 02 FF 01 49 00 CF") << hex("55");
    QTest::newRow("length 0A closing at 12: 13 bytes") << hex("7F 0A 99 A2 B3 C4 02 FF 01 49 00 11 CF")
                                                       << hex("7F 0A 99 A2 B3 C4 02 FF 01 49 00 11 CF")
                                                       << QByteArray();
    QTest::newRow("length 0A, 12 bytes without CF: wait") << hex("7F 0A 99 A2 B3 C4 02 FF 01 49 00 11")
                                                           << QByteArray()
                                                           << hex("7F 0A 99 A2 B3 C4 02 FF 01 49 00 11");
    QTest::newRow("longest frame, 130 bytes") << hex("7F 7F 99 A2 B3 C4 02 FF") + QByteArray(121, 0x11) + hex("CF")
                                              << hex("7F 7F 99 A2 B3 C4 02 FF") + QByteArray(121, 0x11) + hex("CF")
                                              << QByteArray();
    QTest::newRow("shortest frame, 9 bytes") << hex("7F 06 99 A2 B3 C4 02 FF CF") << hex("7F 06 99 A2 B3 C4 02 FF CF")
                                             << QByteArray();

    // A start byte that cannot begin a frame is dropped with what precedes
    // it, and the scan goes on behind it.
    QTest::newRow("length 80 never a frame") << hex("7F 80 99 A2 B3 C4 02 FF 01 49 CF") << QByteArray() << QByteArray();
    QTest::newRow("length 80, then a frame") << hex("7F 80 99 A2 B3 C4 02 FF 01 49 CF") + test << test << QByteArray();
    QTest::newRow("length FF, then a frame") << hex("7F FF 99 A2 B3 C4 02 FF") + test << test << QByteArray();
    QTest::newRow("length below 6, then a frame") << hex("7F 02 99 A2 CF C4 02 FF") + test << test << QByteArray();
    QTest::newRow("wrong byte at 2, then a frame") << hex("7F 08 98 A2 B3 C4 02 FF 01 49 CF") + test << test
                                                   << QByteArray();
    QTest::newRow("wrong byte at 7, then a frame") << hex("7F 08 99 A2 B3 C4 02 FE 01 49 CF") + test << test
                                                   << QByteArray();
    QTest::newRow("no CF where the length says, then a frame") << hex("7F 08 99 A2 B3 C4 02 FF 01 49 00 CF") + test
                                                               << test << QByteArray();
    QTest::newRow("start byte inside a broken frame") << hex("7F 20 99 A2 B3 C4 02 FF") + test + QByteArray(30, 0)
                                                      << test << QByteArray(30, 0);
    QTest::newRow("doubled start byte") << hex("7F") + test << test << QByteArray();
    QTest::newRow("garbage without start byte dropped") << hex("00 11 22 33 44 55 66 77 88 CF") << QByteArray()
                                                        << QByteArray();
    QTest::newRow("garbage before a partial frame dropped") << hex("00 11 22 CF 7F 08 99") << QByteArray()
                                                            << hex("7F 08 99");
    QTest::newRow("broken frame before a partial one") << hex("7F 08 98 A2 B3 C4 02 FF 7F 08 99 A2") << QByteArray()
                                                       << hex("7F 08 99 A2");
}

void TstZQFrameScan::scan()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, rest);
    QByteArray got;
    const ZQFrameScan::Result r = ZQFrameScan::scan(source, got);
    QCOMPARE(got, frame);
    QCOMPARE(r.found, !frame.isEmpty());
    QCOMPARE(source, rest);
    if (r.found) {
        QCOMPARE(r.count, frame.size());
        QCOMPARE(r.end - r.start + 1, r.count);
    }
}

// A buffer fed byte by byte yields each frame exactly once its end byte is
// there, never earlier, and in order.
void TstZQFrameScan::scanRepeated_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QList<int>>("completeAt"); // stream offset of each frame's last byte
    QTest::newRow("two frames with CF in data") << hex("7F 09 99 A2 B3 C4 02 FF CF CF 01 CF 7F 08 99 A2 B3 C4 02 FF 01 49 CF")
        << QList<QByteArray>{hex("7F 09 99 A2 B3 C4 02 FF CF CF 01 CF"), hex("7F 08 99 A2 B3 C4 02 FF 01 49 CF")}
        << QList<int>{11, 22};
    QTest::newRow("12-byte rule in a stream") << hex("EE 7F 0A 99 A2 B3 C4 02 FF 01 49 00 CF 7F 06 99 A2 B3 C4 02 FF CF")
        << QList<QByteArray>{hex("7F 0A 99 A2 B3 C4 02 FF 01 49 00 CF"), hex("7F 06 99 A2 B3 C4 02 FF CF")}
        << QList<int>{12, 21};
}

void TstZQFrameScan::scanRepeated()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QList<int>, completeAt);
    QByteArray buffer;
    QList<QByteArray> got;
    for (int i = 0; i < stream.size(); ++i) {
        buffer.append(stream.at(i));
        QByteArray f;
        if (ZQFrameScan::scan(buffer, f).found) {
            QVERIFY2(got.size() < completeAt.size(), "more frames than sent");
            QCOMPARE(i, completeAt.at(got.size()));
            got << f;
        }
    }
    QCOMPARE(got, frames);
    QVERIFY(buffer.isEmpty());
}

void TstZQFrameScan::randomStreams_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("startBytesInNoise");
    for (quint32 seed : {1u, 7u, 42u, 1234u, 99991u}) {
        QTest::addRow("clean noise, seed %u", seed) << seed << false;
        QTest::addRow("noise with start bytes, seed %u", seed) << seed << true;
    }
}

// Good frames mixed with line noise, fed in chunks of random size and scanned
// as the reader does. Without 7F in the noise every frame must come out, in
// order; with it, whatever comes out must be a well-formed frame. Either way
// the buffer stays within one frame's size once the scan has drained it.
void TstZQFrameScan::randomStreams()
{
    QFETCH(quint32, seed);
    QFETCH(bool, startBytesInNoise);
    QRandomGenerator rng(seed);
    QByteArray stream;
    QList<QByteArray> sent;
    for (int i = 0; i < 400; ++i) {
        const int noise = rng.bounded(40);
        for (int j = 0; j < noise; ++j) {
            char c = char(rng.bounded(256));
            if (!startBytesInNoise && c == char(0x7F))
                c = 0x00;
            else if (startBytesInNoise && rng.bounded(8) == 0)
                c = char(0x7F);
            stream.append(c);
        }
        const QByteArray f = makeFrame(rng, 6 + rng.bounded(122));
        sent << f;
        stream.append(f);
    }

    QByteArray buffer;
    QList<QByteArray> got;
    int pos = 0;
    while (pos < stream.size()) {
        const int chunk = 1 + rng.bounded(64);
        buffer.append(stream.mid(pos, chunk));
        pos += chunk;
        for (;;) {
            QByteArray f;
            if (!ZQFrameScan::scan(buffer, f).found)
                break;
            QVERIFY2(wellFormed(f), qPrintable(ZQFrameScan::toHex(f)));
            got << f;
        }
        QVERIFY2(buffer.size() < 130, qPrintable(QString::number(buffer.size())));
    }
    if (!startBytesInNoise) {
        QCOMPARE(got.size(), sent.size());
        QCOMPARE(got, sent);
    } else {
        QVERIFY(!got.isEmpty());
    }
}

// The reader's entry point: nothing cut leaves the caller's frame as passed.
void TstZQFrameScan::checkCmdLeavesFrameAlone()
{
    ZQSerialRead reader;
    QByteArray frame = "untouched";
    QByteArray source;
    reader.checkCmd(source, frame);
    QCOMPARE(frame, QByteArray("untouched"));
    source = hex("7F 08 99 A2 B3");
    reader.checkCmd(source, frame);
    QCOMPARE(frame, QByteArray("untouched"));
    QCOMPARE(source, hex("7F 08 99 A2 B3"));
    frame.clear();
    source = hex("7F 08 99 A2 B3 C4 02 FF 01 49 CF 7F");
    reader.checkCmd(source, frame);
    QCOMPARE(frame, hex("7F 08 99 A2 B3 C4 02 FF 01 49 CF"));
    QCOMPARE(source, hex("7F"));
}

QTEST_GUILESS_MAIN(TstZQFrameScan)
#include "tst_zqframescan.moc"
