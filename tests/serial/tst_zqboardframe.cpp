#include "zqboardframe.h"
#include "zqframescan.h"

#include <QtTest>

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}
} // namespace

class TstZQBoardFrame : public QObject
{
    Q_OBJECT

private slots:
    void build_data();
    void build();
    void buildPart_data();
    void buildPart();
    void unchecked();
};

void TstZQBoardFrame::build_data()
{
    QTest::addColumn<int>("commandLength");
    QTest::addColumn<bool>("built");

    QTest::newRow("empty") << 0 << true;
    QTest::newRow("one") << 1 << true;
    QTest::newRow("longest the reader takes back (121)") << 121 << true;
    QTest::newRow("249: length byte FF") << 249 << true;
    QTest::newRow("250 would wrap") << 250 << false;
    QTest::newRow("1000") << 1000 << false;
}

void TstZQBoardFrame::build()
{
    QFETCH(int, commandLength);
    QFETCH(bool, built);

    const QByteArray command(commandLength, '\x5A');
    const QByteArray f = ZQBoardFrame::build(command);
    QCOMPARE(!f.isEmpty(), built);
    if (!built)
        return;
    QCOMPARE(f.size(), commandLength + 9);
    QCOMPARE(f.left(8).mid(2), hex("99 A2 B3 C4 02 FF"));
    QCOMPARE(f.at(0), ZQBoardFrame::StartByte);
    QCOMPARE(int(quint8(f.at(1))), f.size() - 3);
    QCOMPARE(f.mid(8, f.size() - 9), command);
    QCOMPARE(f.back(), ZQBoardFrame::EndByte);

    // What the board's own scan can take back must come out whole.
    if (f.size() <= ZQFrameScan::MaxFrameSize && f.size() >= ZQFrameScan::MinFrameSize) {
        QByteArray stream = f, cut;
        QVERIFY(ZQFrameScan::scan(stream, cut).found);
        QCOMPARE(cut, f);
    }
}

void TstZQBoardFrame::buildPart_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("serial");
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("first of two") << 2 << 0 << 7 << hex("01 02 03")
                                  << hex("7F 0B 99 A3 02 00 07 FF E4 F1 01 02 03 CF");
    QTest::newRow("serial keeps its low byte") << 3 << 2 << 9999 << hex("AA")
                                               << hex("7F 09 99 A3 03 02 0F FF E4 F1 AA CF");
    QTest::newRow("empty piece") << 1 << 0 << 0 << QByteArray() << hex("7F 08 99 A3 01 00 00 FF E4 F1 CF");
}

void TstZQBoardFrame::buildPart()
{
    QFETCH(int, count);
    QFETCH(int, index);
    QFETCH(int, serial);
    QFETCH(QByteArray, piece);
    QFETCH(QByteArray, frame);
    QCOMPARE(ZQBoardFrame::buildPart(count, index, serial, hex("E4 F1"), piece), frame);
}

void TstZQBoardFrame::unchecked()
{
    QCOMPARE(ZQBoardFrame::buildUnchecked(hex("0F 01")), ZQBoardFrame::build({0x0F, 0x01}));
    QCOMPARE(ZQBoardFrame::build({0x0F, 0x01}), hex("7F 08 99 A2 B3 C4 02 FF 0F 01 CF"));
    const QByteArray joined = ZQBoardFrame::buildUnchecked(QByteArray(300, '\x11'));
    QCOMPARE(joined.size(), 309);
    QCOMPARE(int(quint8(joined.at(1))), (309 - 3) & 0xFF);
}

QTEST_GUILESS_MAIN(TstZQBoardFrame)
#include "tst_zqboardframe.moc"
