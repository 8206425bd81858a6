#include "strokeacccode.h"
#include "zqsalogger.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(StrokeAccRequest)

class TestStrokeAccCode : public QObject
{
    Q_OBJECT
private slots:
    void requests_data();
    void requests();
    void answerCode_data();
    void answerCode();
    void screenShape_data();
    void screenShape();
    void logRotatesAtItsCap();
};

void TestStrokeAccCode::requests_data()
{
    QTest::addColumn<QString>("param");
    QTest::addColumn<StrokeAccRequest>("kind");
    QTest::addColumn<unsigned int>("colour");
    QTest::newRow("red") << "E01100FF00000F" << StrokeAccRequest::Marker << 0xFF0000u;
    QTest::newRow("lower case") << "e01100ff00000f" << StrokeAccRequest::Marker << 0xFF0000u;
    QTest::newRow("extra bytes enter the sum") << "E01100FF00000E01" << StrokeAccRequest::Marker << 0xFF0000u;
    QTest::newRow("pair not hex reads 0") << "E011ZZFF00000F" << StrokeAccRequest::Marker << 0xFF0000u;
    QTest::newRow("wrong check byte") << "E01100FF000010" << StrokeAccRequest::BadCheck << 0xFF0000u;
    QTest::newRow("six bytes") << "E01100FF0000" << StrokeAccRequest::NotMarker << 0xFF0000u;
    QTest::newRow("empty") << "" << StrokeAccRequest::NotMarker << 0u;
    QTest::newRow("other command, good sum") << "E01200FF00000E" << StrokeAccRequest::NotMarker << 0xFF0000u;
}

void TestStrokeAccCode::requests()
{
    QFETCH(QString, param);
    QFETCH(StrokeAccRequest, kind);
    QFETCH(unsigned int, colour);
    const QByteArray bytes = strokeAccHexToBytes(param);
    QCOMPARE(bytes.size(), (param.size() + 1) / 2);
    QCOMPARE(strokeAccCheckRequest(bytes), kind);
    QCOMPARE(strokeAccRequestColour(bytes), colour);
}

void TestStrokeAccCode::answerCode_data()
{
    QTest::addColumn<unsigned int>("colour");
    QTest::addColumn<QString>("code");
    QTest::addColumn<unsigned int>("contrast");
    QTest::newRow("red") << 0xFF0000u << "7F0D99A2B3C402FFE01100FF00000FCF" << 0xEEEEEEu;
    QTest::newRow("light grey") << 0xC8C8C8u << "7F0D99A2B3C402FFE01100C8C8C8B6CF" << 0x333333u;
    QTest::newRow("181 is above 180") << 0xB5B5B5u << "7F0D99A2B3C402FFE01100B5B5B5EFCF" << 0x333333u;
    QTest::newRow("180 is not") << 0xB4FFFFu << "7F0D99A2B3C402FFE01100B4FFFF5CCF" << 0xEEEEEEu;
}

void TestStrokeAccCode::answerCode()
{
    QFETCH(unsigned int, colour);
    QFETCH(QString, code);
    QFETCH(unsigned int, contrast);
    QCOMPARE(getInkDrawScreenShotRs232Code(colour), code);
    QCOMPARE(strokeAccContrastColour(colour), contrast);
    // The command inside the answer passes the board's own check.
    const QByteArray command = strokeAccHexToBytes(code).mid(8, 7);
    QCOMPARE(strokeAccCheckRequest(command), StrokeAccRequest::Marker);
    QCOMPARE(strokeAccRequestColour(command), colour);
}

void TestStrokeAccCode::screenShape_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<bool>("wide");
    QTest::newRow("1920x1080") << 1920 << 1080 << true;
    QTest::newRow("3840x2160") << 3840 << 2160 << true;
    QTest::newRow("1280x1024") << 1280 << 1024 << false;
    QTest::newRow("1366x768 misses by 0.0003") << 1366 << 768 << false;
    QTest::newRow("no display") << 0 << 0 << false;
}

void TestStrokeAccCode::screenShape()
{
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(bool, wide);
    QCOMPARE(strokeAccIsSixteenByNine(w, h), wide);
}

void TestStrokeAccCode::logRotatesAtItsCap()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("log.txt");
    const qint64 cap = 300;
    for (int i = 0; i < 40; ++i)
        ZQSALogger::append(path, cap, QtWarningMsg, QString("line %1").arg(i));
    QVERIFY(QFile(path).size() <= cap);
    QVERIFY(QFile(path + ".1").size() <= cap);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    QFile current(path);
    QVERIFY(current.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = current.readAll().split('\n');
    QVERIFY(lines.last().isEmpty());
    QVERIFY(lines.at(lines.size() - 2).endsWith("Warning: line 39 \r"));
    const QRegularExpression shape("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\d{3} Warning: line \\d+ \\r$");
    for (int i = 0; i + 1 < lines.size(); ++i)
        QVERIFY2(shape.match(QString::fromUtf8(lines[i])).hasMatch(), lines[i].constData());
}

QTEST_GUILESS_MAIN(TestStrokeAccCode)
#include "tst_strokeacccode.moc"
