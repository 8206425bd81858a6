// The keyboard watch starts a real process (a stand-in "onboard" on PATH).
#include "zqwatchmanager.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// One request of a burst: wait `gapMs` after the previous one, then ask.
struct Request {
    int gapMs;
    enum Kind { Check, WatchObject, WatchNull } kind;
};
using Requests = QVector<Request>;
Q_DECLARE_METATYPE(Requests)

class TestZQWatchManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void bursts_data();
    void bursts();
    void missingKeyboardReturnsToIdle();

private:
    QList<qint64> starts() const;

    QTemporaryDir m_dir;
    QString m_log;
    QByteArray m_path;
};

void TestZQWatchManager::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_log = m_dir.filePath(QStringLiteral("starts.log"));
    // The stand-in records the moment it was started, in ms since the epoch.
    QFile script(m_dir.filePath(QStringLiteral("onboard")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\ndate +%s%3N >> \"$VELA_ONBOARD_LOG\"\n");
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("VELA_ONBOARD_LOG", m_log.toLocal8Bit());
    m_path = qgetenv("PATH");
    qputenv("PATH", m_dir.path().toLocal8Bit() + ':' + m_path);
}

QList<qint64> TestZQWatchManager::starts() const
{
    QList<qint64> result;
    QFile f(m_log);
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &line : f.readAll().split('\n'))
            if (!line.trimmed().isEmpty())
                result << line.trimmed().toLongLong();
    return result;
}

void TestZQWatchManager::bursts_data()
{
    QTest::addColumn<Requests>("requests");
    QTest::addColumn<int>("expectedStarts");

    QTest::newRow("three requests 100 ms apart")
        << Requests{{0, Request::Check}, {100, Request::Check}, {100, Request::Check}} << 1;
    QTest::newRow("single request") << Requests{{0, Request::Check}} << 1;
    QTest::newRow("watch with an object") << Requests{{0, Request::WatchObject}} << 1;
    QTest::newRow("watch without an object does nothing") << Requests{{0, Request::WatchNull}} << 0;
    QTest::newRow("two bursts apart") << Requests{{0, Request::Check}, {50, Request::Check}, {600, Request::Check}} << 2;
}

void TestZQWatchManager::bursts()
{
    QFETCH(Requests, requests);
    QFETCH(int, expectedStarts);
    QFile::remove(m_log);

    ZQWatchManager watch;
    QObject watched;
    qint64 last = 0;
    for (const Request &r : requests) {
        if (r.gapMs > 0)
            QTest::qWait(r.gapMs);
        if (r.kind == Request::Check)
            watch.checkVirtualKeyBoard(nullptr, nullptr);
        else
            watch.startWatch(r.kind == Request::WatchObject ? &watched : nullptr, nullptr);
        if (r.kind != Request::WatchNull)
            last = QDateTime::currentMSecsSinceEpoch();
    }
    // Long enough for any stray or repeated start to show up.
    QTest::qWait(1200);
    const QList<qint64> s = starts();
    QCOMPARE(s.size(), expectedStarts);
    if (expectedStarts == 0)
        return;
    // The last start follows the last request of its burst by the delay, not earlier.
    const qint64 delay = s.last() - last;
    QVERIFY2(delay >= 190 && delay < 1000, qPrintable(QStringLiteral("started %1 ms after the last request").arg(delay)));
}

void TestZQWatchManager::missingKeyboardReturnsToIdle()
{
    qputenv("PATH", "/nonexistent");
    ZQWatchManager watch;
    watch.checkVirtualKeyBoard(nullptr, nullptr);
    QTest::qWait(400);
    qputenv("PATH", m_dir.path().toLocal8Bit() + ':' + m_path);
    QFile::remove(m_log);
    // No retries behind the caller's back, and the next request still works.
    QTest::qWait(400);
    QCOMPARE(starts().size(), 0);
    watch.checkVirtualKeyBoard(nullptr, nullptr);
    QTRY_COMPARE(starts().size(), 1);
}

QTEST_GUILESS_MAIN(TestZQWatchManager)
#include "tst_zqwatchmanager.moc"
