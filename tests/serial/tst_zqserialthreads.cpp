#include "ptypair.h"
#include "zqserialread.h"
#include "zqserialwrite.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QSerialPort>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray numbered(int n)
{
    QByteArray f = hex("7F 0A 99 A2 B3 C4 02 FF 70 00 00 00 CF");
    f[9] = char(n >> 16);
    f[10] = char(n >> 8);
    f[11] = char(n);
    return f;
}

// Frames emitted by a reader, stamped on the reader's own thread.
struct ReaderLog
{
    QMutex mutex;
    QElapsedTimer clock;
    QList<QPair<qint64, QByteArray>> frames;

    void attach(ZQSerialRead *reader)
    {
        clock.start();
        QObject::connect(reader, &ZQSerialRead::commandReady, reader, [this](QByteArray f) {
            QMutexLocker lock(&mutex);
            frames.append({clock.elapsed(), f});
        }, Qt::DirectConnection);
    }
    int count()
    {
        QMutexLocker lock(&mutex);
        return frames.size();
    }
    QList<QPair<qint64, QByteArray>> all()
    {
        QMutexLocker lock(&mutex);
        return frames;
    }
};
// A reader on the slave side of a fresh pseudo-terminal, running.
struct ReaderRig
{
    PtyPair pty;
    QSerialPort port;
    ZQSerialRead reader;
    ReaderLog log;

    bool start()
    {
        port.setPortName(pty.slavePath());
        if (!pty.isValid() || !port.open(QIODevice::ReadWrite))
            return false;
        log.attach(&reader);
        reader.setSerialPortPtr(&port);
        return true;
    }
};
} // namespace


class TstZQSerialThreads : public QObject
{
    Q_OBJECT
private slots:
    void readerDeliversOneFramePerPass_data();
    void readerDeliversOneFramePerPass();
    void readerWaitsForSplitFrame();
    void readerSurvivesNoise();
    void writerPacesInQueueOrder();
    void writerBlocksTheFrameBeyondTheQueue();
    void writerEndsWhileWaiting();
    void writerKeepsWhatTheLineRefused_data();
    void writerKeepsWhatTheLineRefused();
    void readerEndsPromptly();
};

void TstZQSerialThreads::readerDeliversOneFramePerPass_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<QByteArray>>("frames");
    const QByteArray a = hex("7F 08 99 A2 B3 C4 02 FF 01 49 CF");
    const QByteArray b = hex("7F 09 99 A2 B3 C4 02 FF 0F 08 02 CF");
    const QByteArray c = hex("7F 0A 99 A2 B3 C4 02 FF 01 49 00 CF");
    QTest::newRow("three frames in one write") << a + b + c << QList<QByteArray>{a, b, c};
    QTest::newRow("garbage before and between") << hex("00 11") + a + hex("CF 7F 80") + b << QList<QByteArray>{a, b};
    QTest::newRow("twelve-byte rule then a frame") << c + a << QList<QByteArray>{c, a};
}

// Frames that arrive together come out whole, in order, one per 100 ms pass.
void TstZQSerialThreads::readerDeliversOneFramePerPass()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<QByteArray>, frames);
    ReaderRig rig;
    QVERIFY(rig.start());
    rig.pty.writeMaster(bytes);
    QTRY_COMPARE_WITH_TIMEOUT(rig.log.count(), frames.size(), 5000);
    QTest::qWait(250);
    const auto got = rig.log.all();
    QCOMPARE(got.size(), frames.size());
    for (int i = 0; i < got.size(); ++i) {
        QCOMPARE(got.at(i).second, frames.at(i));
        if (i > 0) {
            const qint64 gap = got.at(i).first - got.at(i - 1).first;
            QVERIFY2(gap >= ZQSerialRead::PassMs - 15, qPrintable(QStringLiteral("gap %1 ms").arg(gap)));
        }
    }
}

// A frame cut across writes (with CF inside its data) is delivered only once
// its real end byte is there, and then whole.
void TstZQSerialThreads::readerWaitsForSplitFrame()
{
    ReaderRig rig;
    QVERIFY(rig.start());
    const QByteArray frame = hex("7F 0B 99 A2 B3 C4 02 FF 33 CF 01 CF 02 CF");
    rig.pty.writeMaster(frame.left(12));
    QTest::qWait(400);
    QCOMPARE(rig.log.count(), 0);
    rig.pty.writeMaster(frame.mid(12));
    QTRY_COMPARE_WITH_TIMEOUT(rig.log.count(), 1, 3000);
    QCOMPARE(rig.log.all().at(0).second, frame);
}

// A long run of noise full of false start bytes does not stop later frames.
void TstZQSerialThreads::readerSurvivesNoise()
{
    ReaderRig rig;
    QVERIFY(rig.start());
    QByteArray noise;
    for (int i = 0; i < 2000; ++i)
        noise.append(hex("7F 08 99 A2 B3 C4 02 FF 01 49 00"));
    const QByteArray good = numbered(1);
    rig.pty.writeMaster(noise + good);
    QTRY_COMPARE_WITH_TIMEOUT(rig.log.count(), 1, 5000);
    QCOMPARE(rig.log.all().at(0).second, good);
}

// Frames queued from another thread leave in queue order, at least 50 ms apart.
void TstZQSerialThreads::writerPacesInQueueOrder()
{
    PtyPair pty;
    QSerialPort port(pty.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    ZQSerialWrite writer;
    writer.setSerialPortPtr(&port);
    const int count = 12;
    std::thread producer([&writer]() {
        for (int i = 0; i < count; ++i)
            writer.writeSerialPort(numbered(i));
    });
    producer.join();
    QTRY_COMPARE_WITH_TIMEOUT(pty.frameCount(), count, 5000);
    const auto got = pty.frames();
    QList<qint64> gaps;
    for (int i = 0; i < count; ++i) {
        QCOMPARE(got.at(i).frame, numbered(i));
        if (i > 0)
            gaps << got.at(i).ms - got.at(i - 1).ms;
    }
    // Measured where the frames arrive, so one late read may shorten a single
    // gap; the span and the typical gap still show the pause.
    const qint64 span = got.last().ms - got.first().ms;
    QVERIFY2(span >= (count - 1) * ZQSerialWrite::PauseMs - 30, qPrintable(QStringLiteral("span %1 ms").arg(span)));
    std::sort(gaps.begin(), gaps.end());
    const qint64 median = gaps.at(gaps.size() / 2);
    QVERIFY2(median >= ZQSerialWrite::PauseMs - 5, qPrintable(QStringLiteral("median gap %1 ms").arg(median)));
}

// 6000 frames fill the queue; the next caller waits until the writer has
// taken one. Destroying the writer drops what is left, promptly.
void TstZQSerialThreads::writerBlocksTheFrameBeyondTheQueue()
{
    PtyPair pty;
    QSerialPort port(pty.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    auto *writer = new ZQSerialWrite;
    for (int i = 0; i < ZQSerialWrite::QueueSlots; ++i)
        writer->writeSerialPort(numbered(i));
    std::atomic<bool> returned{false};
    std::thread late([&]() {
        writer->writeSerialPort(numbered(ZQSerialWrite::QueueSlots));
        returned = true;
    });
    QTest::qWait(300);
    QVERIFY(!returned);
    writer->setSerialPortPtr(&port);
    QTRY_VERIFY_WITH_TIMEOUT(returned.load(), 3000);
    late.join();
    QTRY_VERIFY_WITH_TIMEOUT(pty.frameCount() >= 3, 3000);
    const auto got = pty.frames();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(got.at(i).frame, numbered(i));

    QElapsedTimer t;
    t.start();
    delete writer;
    QVERIFY2(t.elapsed() < 2000, "writer did not stop");
    const int sent = pty.frameCount();
    QTest::qWait(300);
    QCOMPARE(pty.frameCount(), sent);
    QVERIFY(sent < 100);
}

void TstZQSerialThreads::writerEndsWhileWaiting()
{
    PtyPair pty;
    QSerialPort port(pty.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    auto *writer = new ZQSerialWrite;
    writer->setSerialPortPtr(&port);
    QTest::qWait(100);
    QVERIFY(writer->isRunning());
    QElapsedTimer t;
    t.start();
    delete writer;
    QVERIFY2(t.elapsed() < 2000, "writer did not stop while waiting for a frame");
}

using Queued = QList<QPair<QByteArray, QByteArray>>; // frame, the command it is a part of

void TstZQSerialThreads::writerKeepsWhatTheLineRefused_data()
{
    QTest::addColumn<Queued>("queued");
    QTest::addColumn<QList<QByteArray>>("handedBack");
    // Two long commands and their part frames (count 2, index, serial byte).
    const QByteArray a = hex("7F 21 99 A2 B3 C4 02 FF E3 E3") + QByteArray(22, 'a') + hex("CF");
    const QByteArray b = hex("7F 21 99 A2 B3 C4 02 FF E3 E3") + QByteArray(22, 'b') + hex("CF");
    auto part = [](int index, int serial, char fill, int n) {
        return hex("7F 00 99 A3 02") + QByteArray(1, char(index)) + QByteArray(1, char(serial)) + hex("FF E3 E3")
               + QByteArray(n, fill) + hex("CF");
    };
    const QByteArray f1 = numbered(1);
    const QByteArray f2 = numbered(2);
    QTest::newRow("frames") << Queued{{f1, {}}, {f2, {}}} << QList<QByteArray>{f1, f2};
    QTest::newRow("the parts of one command") << Queued{{part(0, 1, 'a', 21), a}, {part(1, 1, 'a', 1), a}}
                                              << QList<QByteArray>{a};
    QTest::newRow("commands with a frame between")
        << Queued{{part(0, 1, 'a', 21), a}, {part(1, 1, 'a', 1), a}, {f1, {}}, {part(0, 2, 'b', 21), b},
                  {part(1, 2, 'b', 1), b}}
        << QList<QByteArray>{a, f1, b};
    QTest::newRow("one command twice") << Queued{{part(0, 1, 'a', 21), a}, {part(1, 1, 'a', 1), a},
                                                 {part(0, 2, 'a', 21), a}, {part(1, 2, 'a', 1), a}}
                                       << QList<QByteArray>{a, a};
}

// The line goes away under the writer: the frame it could not write and
// everything behind it stay queued (a command split into part frames comes
// back whole, once), and the owner hears of it once.
void TstZQSerialThreads::writerKeepsWhatTheLineRefused()
{
    QFETCH(Queued, queued);
    QFETCH(QList<QByteArray>, handedBack);
    PtyPair pty;
    QSerialPort port(pty.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    ZQSerialWrite writer;
    QSignalSpy failed(&writer, SIGNAL(writeFailed()));
    writer.setSerialPortPtr(&port);
    writer.writeSerialPort(numbered(0));
    QTRY_COMPARE_WITH_TIMEOUT(pty.frameCount(), 1, 3000);
    pty.hangUp();
    for (const auto &q : queued)
        QVERIFY(writer.tryWriteSerialPort(q.first, 1000, q.second));
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 3000);
    QVERIFY(writer.hasFailed());
    QTest::qWait(200); // nothing more is tried
    QCOMPARE(failed.count(), 1);
    QCOMPARE(writer.stopAndTakeQueued(), handedBack);
}

void TstZQSerialThreads::readerEndsPromptly()
{
    PtyPair pty;
    QSerialPort port(pty.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    auto *reader = new ZQSerialRead;
    reader->setSerialPortPtr(&port);
    pty.writeMaster(hex("7F 08 99 A2")); // a frame that never completes
    QTest::qWait(250);
    QVERIFY(reader->isRunning());
    QElapsedTimer t;
    t.start();
    delete reader;
    QVERIFY2(t.elapsed() < 2000, "reader did not stop");
}

QTEST_GUILESS_MAIN(TstZQSerialThreads)
#include "tst_zqserialthreads.moc"
