#include "zqtmsgdispatch.h"

#include <QtTest>

// The hub's frame arithmetic for link version 2; the traffic itself is
// covered end to end in tst_velacenter.
class TestMsgDispatch : public QObject
{
    Q_OBJECT
private slots:
    void splitSerialWraps_data();
    void splitSerialWraps();
    void splitCommand_data();
    void splitCommand();
    void joinedFrame_data();
    void joinedFrame();
};

void TestMsgDispatch::splitSerialWraps_data()
{
    QTest::addColumn<int>("serial");
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("byte");
    QTest::newRow("start") << 0 << 1 << 0x01;
    QTest::newRow("low byte wraps") << 255 << 256 << 0x00;
    QTest::newRow("300") << 299 << 300 << 0x2C;
    QTest::newRow("9999 wraps to 0") << 9999 << 0 << 0x00;
}

void TestMsgDispatch::splitSerialWraps()
{
    QFETCH(int, serial);
    QFETCH(int, next);
    QFETCH(int, byte);
    QCOMPARE(ZQTMsgDispatch::nextSplitSerial(serial), next);
    const QByteArray command = QByteArray::fromHex("7F1E99A2B3C402FFAB") + QByteArray(23, '\x01') + '\xCF';
    const QList<QByteArray> parts = ZQTMsgDispatch::splitCommand(command, next);
    QVERIFY(!parts.isEmpty());
    for (const QByteArray &part : parts)
        QCOMPARE(int(quint8(part.at(6))), byte);
}

void TestMsgDispatch::splitCommand_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QList<QByteArray>>("parts");
    QByteArray data22;
    for (int i = 0; i < 22; ++i)
        data22.append(char(0x10 + i));
    const QByteArray c33 = QByteArray::fromHex("7F1E99A2B3C402FFE1E2") + data22 + '\xCF';
    QTest::newRow("33 bytes") << c33 << QList<QByteArray>{
        QByteArray::fromHex("7F1D99A30200") + '\x07' + QByteArray::fromHex("FFE1E2") + data22.left(21) + '\xCF',
        QByteArray::fromHex("7F0999A30201") + '\x07' + QByteArray::fromHex("FFE1E2") + data22.mid(21) + '\xCF'};
    QTest::newRow("too short for command bytes") << QByteArray::fromHex("7F0899A2B3C402FFCF")
                                                 << QList<QByteArray>{};
}

void TestMsgDispatch::splitCommand()
{
    QFETCH(QByteArray, command);
    QFETCH(QList<QByteArray>, parts);
    QCOMPARE(ZQTMsgDispatch::splitCommand(command, 7), parts);
}

void TestMsgDispatch::joinedFrame_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("three bytes") << QByteArray::fromHex("AABBCC")
                                 << QByteArray::fromHex("7F0B99A2B3C402FFE4F1AABBCCCF");
    QTest::newRow("no data") << QByteArray() << QByteArray::fromHex("7F0899A2B3C402FFE4F1CF");
}

void TestMsgDispatch::joinedFrame()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, frame);
    QCOMPARE(ZQTMsgDispatch::joinedFrame('\xE4', '\xF1', data), frame);
}

QTEST_GUILESS_MAIN(TestMsgDispatch)
#include "tst_msgdispatch.moc"
