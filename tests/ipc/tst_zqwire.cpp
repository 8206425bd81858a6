// The byte-level functions of the bus: frame building, frame and reply
// parsing across arbitrary read boundaries, and frame-text splitting.

#include "zqwire.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace ZQWire;

Q_DECLARE_METATYPE(ZQWire::Kind)

namespace {
QByteArray le32(qint32 n)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((quint32(n) >> (8 * i)) & 0xff);
    return b;
}
QByteArray framed(const QByteArray &payload) { return le32(payload.size()) + payload; }
} // namespace

class TstZQWire : public QObject
{
    Q_OBJECT
private slots:
    void appendFrameLimits_data();
    void appendFrameLimits();
    void takeFramesAtEverySplit_data();
    void takeFramesAtEverySplit();
    void takeFramesRandomChunks();
    void takeFramesBadLength_data();
    void takeFramesBadLength();
    void payloadStopsAtNul();
    void splitFrameText_data();
    void splitFrameText();
    void takeReplies_data();
    void takeReplies();
    void monitorRecords_data();
    void monitorRecords();
};

void TstZQWire::appendFrameLimits_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty") << 0 << true;
    QTest::newRow("largest") << kMaxPayload << true;
    QTest::newRow("one too many") << kMaxPayload + 1 << false;
    QTest::newRow("far too long") << 100000 << false;
}

void TstZQWire::appendFrameLimits()
{
    QFETCH(int, size);
    QFETCH(bool, accepted);
    QByteArray out("prefix");
    QCOMPARE(appendFrame(out, QByteArray(size, 'x')), accepted);
    QCOMPARE(out.size(), accepted ? 6 + 4 + size : 6);   // refused: nothing appended
}

void TstZQWire::takeFramesAtEverySplit_data()
{
    QTest::addColumn<QList<QByteArray>>("payloads");
    QTest::newRow("one") << QList<QByteArray>{"AZ&&Qhello"};
    QTest::newRow("three back to back") << QList<QByteArray>{"first", "", "third one"};
    QTest::newRow("binary with NUL") << QList<QByteArray>{QByteArray("a\0b", 3), "c"};
}

void TstZQWire::takeFramesAtEverySplit()
{
    QFETCH(QList<QByteArray>, payloads);
    QByteArray stream;
    for (const QByteArray &p : payloads)
        stream += framed(p);
    // Every cut of the stream into two reads yields the same frames, in order.
    for (int cut = 0; cut <= stream.size(); ++cut) {
        QByteArray carry;
        QList<QByteArray> got;
        QCOMPARE(takeFrames(carry, stream.constData(), cut, got), ParseStatus::Ok);
        QCOMPARE(takeFrames(carry, stream.constData() + cut, stream.size() - cut, got), ParseStatus::Ok);
        QCOMPARE(got, payloads);
        QVERIFY2(carry.isEmpty(), qPrintable(QString("cut at %1").arg(cut)));
    }
}

void TstZQWire::takeFramesRandomChunks()
{
    QRandomGenerator rng(4711);
    QList<QByteArray> sent;
    QByteArray stream;
    for (int i = 0; i < 400; ++i) {
        QByteArray p(int(rng.bounded(3000)), char('a' + i % 26));
        p.prepend(QByteArray::number(i) + ':');
        sent << p;
        stream += framed(p);
    }
    QByteArray carry;
    QList<QByteArray> got;
    for (int at = 0; at < stream.size();) {
        const int n = qMin(int(rng.bounded(1, 25000)), stream.size() - at);
        QCOMPARE(takeFrames(carry, stream.constData() + at, n, got), ParseStatus::Ok);
        QVERIFY(carry.size() < kBufferSize);   // never more than one partial frame
        at += n;
    }
    QCOMPARE(got.size(), sent.size());
    QCOMPARE(got, sent);
    QVERIFY(carry.isEmpty());
}

void TstZQWire::takeFramesBadLength_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("goodFrames");
    QTest::newRow("negative") << le32(-1) + QByteArray("xxxx") << 0;
    QTest::newRow("above the limit") << le32(kMaxPayload + 1) << 0;
    QTest::newRow("huge") << le32(0x7fffffff) << 0;
    QTest::newRow("after a good frame") << framed("ok") + le32(-20) << 1;
}

void TstZQWire::takeFramesBadLength()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, goodFrames);
    QByteArray carry;
    QList<QByteArray> got;
    QCOMPARE(takeFrames(carry, stream.constData(), stream.size(), got), ParseStatus::BadLength);
    QCOMPARE(got.size(), goodFrames);
}

void TstZQWire::payloadStopsAtNul()
{
    QCOMPARE(payloadText(QByteArray("abc\0def", 7)), QString("abc"));
    QCOMPARE(payloadText(QByteArray::fromHex("e4b8ad")), QString::fromUtf8("中"));
    QCOMPARE(payloadText(QByteArray()), QString());
}

void TstZQWire::splitFrameText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<ZQWire::Kind>("kind");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");

    QTest::newRow("subscribe") << "ZQ&&REGZ&&QSRCZ&&QME" << Kind::Subscribe << "SRC" << "ME";
    QTest::newRow("unsubscribe") << "ZQ&&DELZ&&QSRCZ&&QME" << Kind::Unsubscribe << "SRC" << "ME";
    QTest::newRow("broadcast") << "ZQ&&ALLZ&&QMEZ&&Qtext" << Kind::Broadcast << "ME" << "text";
    QTest::newRow("directed") << "ZQ&&GIVZ&&QYOUZ&&Qtext" << Kind::Directed << "YOU" << "text";
    QTest::newRow("publish") << "MEZ&&Qtext" << Kind::Publish << "ME" << "text";
    QTest::newRow("empty publish") << "MEZ&&Q" << Kind::Publish << "ME" << "";
    QTest::newRow("marker inside a publish") << "MEZ&&Qa Z&&Q bZ&&Q" << Kind::Publish << "ME" << "a Z&&Q bZ&&Q";
    QTest::newRow("marker inside a directed text") << "ZQ&&GIVZ&&QYOUZ&&Q{\"k\":\"Z&&Q\"}"
                                                   << Kind::Directed << "YOU" << "{\"k\":\"Z&&Q\"}";
    QTest::newRow("marker inside a broadcast") << "ZQ&&ALLZ&&QMEZ&&QxZ&&Qy" << Kind::Broadcast << "ME" << "xZ&&Qy";
    QTest::newRow("subscribe ignores extra pieces") << "ZQ&&REGZ&&QSZ&&QMEZ&&Qjunk" << Kind::Subscribe << "S" << "ME";
    QTest::newRow("kind words are case-sensitive") << "zq&&regZ&&QSZ&&QME" << Kind::Publish << "zq&&reg" << "SZ&&QME";
    QTest::newRow("publish without marker") << "just text" << Kind::Invalid << "" << "";
    QTest::newRow("subscribe with one identifier") << "ZQ&&REGZ&&QSRC" << Kind::Invalid << "" << "";
    QTest::newRow("directed without message") << "ZQ&&GIVZ&&QYOU" << Kind::Invalid << "" << "";
    QTest::newRow("empty text") << "" << Kind::Invalid << "" << "";
}

void TstZQWire::splitFrameText()
{
    QFETCH(QString, text);
    QFETCH(ZQWire::Kind, kind);
    QFETCH(QString, first);
    QFETCH(QString, second);
    const Routing r = ZQWire::splitFrameText(text);
    QCOMPARE(int(r.kind), int(kind));
    if (kind != Kind::Invalid) {
        QCOMPARE(r.first, first);
        QCOMPARE(r.second, second);
    }
}

void TstZQWire::takeReplies_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QList<QByteArray>>("messages");
    QTest::addColumn<QByteArray>("left");

    QTest::newRow("one") << QList<QByteArray>{QByteArray("succeful\0", 9)}
                         << QList<QByteArray>{"succeful"} << QByteArray();
    QTest::newRow("three in one read") << QList<QByteArray>{QByteArray("a\0bb\0ccc\0", 9)}
                                       << QList<QByteArray>{"a", "bb", "ccc"} << QByteArray();
    QTest::newRow("cut across reads") << QList<QByteArray>{QByteArray("he"), QByteArray("ll"), QByteArray("o\0wo", 4), QByteArray("rld\0", 4)}
                                      << QList<QByteArray>{"hello", "world"} << QByteArray();
    QTest::newRow("empty messages") << QList<QByteArray>{QByteArray("\0\0x\0", 4)}
                                    << QList<QByteArray>{"", "", "x"} << QByteArray();
    QTest::newRow("unfinished tail") << QList<QByteArray>{QByteArray("a\0par", 5)}
                                     << QList<QByteArray>{"a"} << QByteArray("par");
    QTest::newRow("NUL alone ends the carried part") << QList<QByteArray>{QByteArray("abc"), QByteArray("\0", 1)}
                                                     << QList<QByteArray>{"abc"} << QByteArray();
}

void TstZQWire::takeReplies()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QList<QByteArray>, messages);
    QFETCH(QByteArray, left);
    QByteArray carry;
    QList<QByteArray> got;
    for (const QByteArray &r : reads)
        ZQWire::takeReplies(carry, r.constData(), r.size(), got);
    QCOMPARE(got, messages);
    QCOMPARE(carry, left);
}

void TstZQWire::monitorRecords_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<int>("delivered");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("receivers");
    QTest::newRow("directed") << QByteArray("directed") << QByteArray("ID_A") << QByteArray("ID_B") << 1
                              << QByteArray("{\"eventid\":\"X\"}") << QStringList{"ID_B"};
    QTest::newRow("publish to several, marker in the text")
        << QByteArray("publish") << QByteArray("ID_A") << QByteArray("ID_B,ID_C") << 2 << QByteArray("aZ&&QbZ&&Q")
        << QStringList{"ID_B", "ID_C"};
    QTest::newRow("publish to nobody") << QByteArray("publish") << QByteArray("ID_A") << QByteArray() << 0
                                       << QByteArray("t") << QStringList{};
    QTest::newRow("subscribe, no text") << QByteArray("subscribe") << QByteArray("ID_B") << QByteArray("ID_A") << 0
                                        << QByteArray() << QStringList{"ID_A"};
    QTest::newRow("non-ASCII") << QByteArray("directed") << QByteArray("ID_名") << QByteArray("ID_B") << 0
                               << QString::fromUtf8("白板").toUtf8() << QStringList{"ID_B"};
}

void TstZQWire::monitorRecords()
{
    QFETCH(QByteArray, kind);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(int, delivered);
    QFETCH(QByteArray, text);
    QFETCH(QStringList, receivers);
    const QByteArray bytes = monitorRecord(kind.constData(), 1700000000123456, from, to, delivered,
                                           text.constData(), text.size());
    QVERIFY(bytes.endsWith('\0'));
    QCOMPARE(bytes.count('\0'), 1);   // one hub-to-client message
    MonitorRecord r;
    QVERIFY(parseMonitorRecord(bytes.chopped(1), r));
    QCOMPARE(r.kind, QString::fromUtf8(kind));
    QCOMPARE(r.timeUs, qint64(1700000000123456));
    QCOMPARE(r.from, QString::fromUtf8(from));
    QCOMPARE(r.to, receivers);
    QCOMPARE(r.delivered, delivered);
    QCOMPARE(r.text, text);
    // Cut short, or with a count that is no number, it is not a record.
    QVERIFY(!parseMonitorRecord(bytes.left(bytes.indexOf(kMarker, bytes.indexOf(kMarker) + 1)), r));
    QVERIFY(!parseMonitorRecord(QByteArray(kind + "Z&&Q1Z&&QaZ&&QbZ&&QxZ&&Qt"), r));
}

QTEST_APPLESS_MAIN(TstZQWire)
#include "tst_zqwire.moc"
