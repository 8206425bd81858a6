// The soak's own figures: what it calls lost, duplicated, reordered, near a
// loss or kept (SoakSequence), and what it reads of a running process in
// /proc (ProcessSampler). A soak is only as good as its counting.

#include "processsampler.h"
#include "soaksequence.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

qint64 processCpuMs()
{
    // The processor time of this whole process (all its threads).
    return qint64(std::clock()) * 1000 / CLOCKS_PER_SEC;
}

} // namespace

class TestSoakFigures : public QObject
{
    Q_OBJECT

private slots:
    void sequence_data();
    void sequence();
    void ownProcess();
    void nameWithBracketsAndEnd();
    void slope_data();
    void slope();
};

// Arrivals are (number as carried, time); windows (board ended, link back).
// Expected: outside sent, arrived, lost, duplicated, reordered; near sent,
// lost; kept sent, lost, arrived after the return; unknown.
void TestSoakFigures::sequence_data()
{
    QTest::addColumn<int>("modulus");
    QTest::addColumn<QVector<qint64>>("sends");
    QTest::addColumn<QList<QPoint>>("arrivals");
    QTest::addColumn<QList<QPoint>>("windows");
    QTest::addColumn<QVector<int>>("expected");

    const QVector<qint64> three{0, 10, 20};
    QTest::newRow("in order") << 0 << three << QList<QPoint>{{0, 5}, {1, 15}, {2, 25}} << QList<QPoint>{}
                              << QVector<int>{3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("one lost") << 0 << three << QList<QPoint>{{0, 5}, {2, 25}} << QList<QPoint>{}
                              << QVector<int>{3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("one twice") << 0 << three << QList<QPoint>{{0, 5}, {1, 15}, {1, 16}, {2, 25}} << QList<QPoint>{}
                               << QVector<int>{3, 3, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("two swapped") << 0 << three << QList<QPoint>{{0, 5}, {2, 25}, {1, 26}} << QList<QPoint>{}
                                 << QVector<int>{3, 3, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    // Only the one that came late is out of order, not the two it let pass.
    QTest::newRow("first one last") << 0 << three << QList<QPoint>{{1, 15}, {2, 25}, {0, 26}} << QList<QPoint>{}
                                    << QVector<int>{3, 3, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    QTest::newRow("numbers never sent") << 0 << three << QList<QPoint>{{0, 5}, {7, 6}, {-1, 7}, {1, 15}, {2, 25}}
                                        << QList<QPoint>{} << QVector<int>{3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    // Board ended at 1000, link back at 3000; near = 100 ms before the loss.
    QTest::newRow("near lost, kept arrives after the return")
        << 0 << QVector<qint64>{0, 950, 1500, 3000} << QList<QPoint>{{0, 5}, {2, 3100}, {3, 3200}}
        << QList<QPoint>{{1000, 3000}} << QVector<int>{2, 2, 0, 0, 0, 1, 1, 1, 0, 1, 0};
    QTest::newRow("kept, but through before the return")
        << 0 << QVector<qint64>{0, 1500} << QList<QPoint>{{0, 5}, {1, 2500}} << QList<QPoint>{{1000, 3000}}
        << QVector<int>{1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    QTest::newRow("kept and lost") << 0 << QVector<qint64>{0, 1500, 3500} << QList<QPoint>{{0, 5}, {2, 3600}}
                                   << QList<QPoint>{{1000, 3000}} << QVector<int>{2, 2, 0, 0, 0, 0, 0, 1, 1, 0, 0};
    QTest::newRow("second of two windows") << 0 << QVector<qint64>{0, 5000, 9990} << QList<QPoint>{{0, 5}}
                                           << QList<QPoint>{{1000, 3000}, {10000, 12000}}
                                           << QVector<int>{2, 1, 1, 0, 0, 1, 1, 0, 0, 0, 0};

    // One-byte table values: the number modulo the range.
    QVector<qint64> many;
    QList<QPoint> allOfThem;
    for (int n = 0; n < 250; ++n) {
        many << n;
        allOfThem << QPoint(n % 100, n + 1);
    }
    QTest::newRow("modulo 100, all in order") << 100 << many << allOfThem << QList<QPoint>{}
                                              << QVector<int>{250, 250, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("modulo 3, one lost") << 3 << QVector<qint64>{0, 1, 2, 3, 4}
                                        << QList<QPoint>{{0, 5}, {1, 6}, {0, 8}, {1, 9}} << QList<QPoint>{}
                                        << QVector<int>{5, 4, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    // A lost item does not make every later one with its remainder look late.
    QVector<qint64> twenty;
    QList<QPoint> withoutThird;
    for (int n = 0; n < 20; ++n) {
        twenty << n;
        if (n != 3)
            withoutThird << QPoint(n % 6, 100 + n);
    }
    QTest::newRow("modulo 6, one lost early") << 6 << twenty << withoutThird << QList<QPoint>{}
                                              << QVector<int>{20, 19, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("modulo 6, two swapped") << 6 << QVector<qint64>{0, 1, 2}
                                           << QList<QPoint>{{0, 5}, {2, 6}, {1, 7}} << QList<QPoint>{}
                                           << QVector<int>{3, 3, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    QTest::newRow("modulo 3, one twice") << 3 << QVector<qint64>{0, 1} << QList<QPoint>{{0, 5}, {0, 6}, {1, 7}}
                                         << QList<QPoint>{} << QVector<int>{2, 2, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("modulo 3, value out of range") << 3 << QVector<qint64>{0} << QList<QPoint>{{0, 5}, {3, 6}}
                                                  << QList<QPoint>{} << QVector<int>{1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1};
}

void TestSoakFigures::sequence()
{
    QFETCH(int, modulus);
    QFETCH(QVector<qint64>, sends);
    QFETCH(QList<QPoint>, arrivals);
    QFETCH(QList<QPoint>, windows);
    QFETCH(QVector<int>, expected);

    SoakSequence s(modulus);
    for (int i = 0; i < sends.size(); ++i)
        QCOMPARE(s.send(sends.at(i)), i);
    for (const QPoint &a : arrivals)
        s.arrive(a.x(), a.y());
    QVector<SoakSequence::Window> w;
    for (const QPoint &p : windows)
        w.append({p.x(), p.y()});
    const SoakSequence::Figures f = s.figures(w, 100);
    const QVector<int> got{f.outside.sent,   f.outside.arrived, f.outside.lost,  f.outside.duplicated,
                           f.outside.reordered, f.nearLoss.sent, f.nearLoss.lost, f.kept.sent,
                           f.kept.lost,      f.keptAfterReturn,  f.unknown};
    QCOMPARE(got, expected);
    QCOMPARE(s.missing(), f.outside.lost + f.nearLoss.lost + f.kept.lost);
    QCOMPARE(s.lostSentAt().size(), s.missing());
}

// What this process holds grows by what it takes and returns when it lets go.
void TestSoakFigures::ownProcess()
{
    const ProcessSampler sampler(getpid());
    ProcessSampler::Sample before;
    QVERIFY(sampler.take(1, &before));
    QCOMPARE(before.atMs, qint64(1));
    QVERIFY(before.rssKb > 0);
    QVERIFY(before.threads >= 1);

    std::vector<std::unique_ptr<QFile>> files;
    for (int i = 0; i < 5; ++i) {
        files.emplace_back(new QFile(QStringLiteral("/dev/null")));
        QVERIFY(files.back()->open(QIODevice::ReadOnly));
    }
    std::mutex mutex;
    std::condition_variable go;
    bool done = false;
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&] {
            std::unique_lock<std::mutex> lock(mutex);
            go.wait(lock, [&] { return done; });
        });
    }
    std::vector<char> memory(32 << 20);
    for (size_t i = 0; i < memory.size(); i += 4096)
        memory[i] = char(i);
    const qint64 cpuFrom = processCpuMs();
    volatile unsigned spin = 0;
    while (processCpuMs() - cpuFrom < 300)
        spin = spin + 1;

    ProcessSampler::Sample during;
    QVERIFY(sampler.take(2, &during));
    QCOMPARE(during.fds - before.fds, 5);
    QCOMPARE(during.threads - before.threads, 3);
    QVERIFY2(during.rssKb - before.rssKb >= 30 * 1024, qPrintable(QString::number(during.rssKb - before.rssKb)));
    // The clock ticks of /proc count in steps of 10 ms.
    QVERIFY2(during.cpuMs - before.cpuMs >= 280, qPrintable(QString::number(during.cpuMs - before.cpuMs)));

    files.clear();
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    go.notify_all();
    for (std::thread &t : threads)
        t.join();
    ProcessSampler::Sample after;
    QVERIFY(sampler.take(3, &after));
    QCOMPARE(after.fds, before.fds);
    QCOMPARE(after.threads, before.threads);
    QVERIFY(after.cpuMs >= during.cpuMs);
}

// The program name in /proc/<pid>/stat stands in brackets and may itself hold
// brackets and blanks; a process that ended gives no sample.
void TestSoakFigures::nameWithBracketsAndEnd()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString odd = dir.filePath(QStringLiteral("a) 1 2 3 (b)"));
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), odd));
    QProcess sleeper;
    sleeper.start(odd, {QStringLiteral("30")});
    QVERIFY(sleeper.waitForStarted(5000));
    const ProcessSampler sampler(sleeper.processId());
    ProcessSampler::Sample s;
    QVERIFY(sampler.take(7, &s));
    QCOMPARE(s.threads, 1);
    QVERIFY(s.fds >= 3); // its standard channels at least
    QVERIFY(s.rssKb > 0);
    // The scheduler's own account of its time on a processor: a parse that
    // stopped at the first ')' would read page-fault counts as times.
    QFile schedstat(QStringLiteral("/proc/%1/schedstat").arg(sleeper.processId()));
    QVERIFY(schedstat.open(QIODevice::ReadOnly));
    const qint64 onCpuMs = schedstat.readAll().split(' ').value(0).toLongLong() / 1000000;
    QVERIFY2(qAbs(s.cpuMs - onCpuMs) <= 30, qPrintable(QStringLiteral("%1 %2").arg(s.cpuMs).arg(onCpuMs)));

    sleeper.kill();
    QVERIFY(sleeper.waitForFinished(5000));
    QVERIFY(!sampler.take(8, &s));
}

void TestSoakFigures::slope_data()
{
    QTest::addColumn<QVector<double>>("x");
    QTest::addColumn<QVector<double>>("y");
    QTest::addColumn<double>("expected");
    QTest::addColumn<double>("tolerance");
    QTest::newRow("line") << QVector<double>{0, 1, 2, 3, 4} << QVector<double>{1, 3, 5, 7, 9} << 2.0 << 1e-9;
    QTest::newRow("falling, uneven steps") << QVector<double>{0, 0.5, 2, 7} << QVector<double>{10, 9.75, 9, 6.5}
                                           << -0.5 << 1e-9;
    QTest::newRow("flat") << QVector<double>{0, 1, 2} << QVector<double>{4, 4, 4} << 0.0 << 1e-9;
    QTest::newRow("one point") << QVector<double>{1} << QVector<double>{5} << 0.0 << 0.0;
    QTest::newRow("all at one time") << QVector<double>{2, 2, 2} << QVector<double>{1, 5, 9} << 0.0 << 0.0;
    // A step up and back down (a transient) leaves no trend.
    QTest::newRow("transient") << QVector<double>{0, 1, 2, 3, 4} << QVector<double>{5, 5, 9, 5, 5} << 0.0 << 1e-9;
    QTest::newRow("noise around a trend") << QVector<double>{0, 1, 2, 3, 4, 5, 6, 7}
                                          << QVector<double>{1, -1, 7, 5, 13, 11, 19, 17} << 3 - 10 / 42.0 << 1e-9;
}

void TestSoakFigures::slope()
{
    QFETCH(QVector<double>, x);
    QFETCH(QVector<double>, y);
    QFETCH(double, expected);
    QFETCH(double, tolerance);
    const double got = ProcessSampler::slope(x, y);
    QVERIFY2(qAbs(got - expected) <= tolerance, qPrintable(QString::number(got)));
}

QTEST_GUILESS_MAIN(TestSoakFigures)
#include "tst_soakfigures.moc"
