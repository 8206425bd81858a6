#include "zqtermsignalwatcher.h"

#include <QtTest>

#include <csignal>

// SIGTERM and SIGINT reach the event loop as a Qt signal; the process lives on.
class TestTermSignal : public QObject
{
    Q_OBJECT
private slots:
    void signalBecomesQtSignal_data();
    void signalBecomesQtSignal();
    void onlyOneWatcherPerProcess();

private:
    static bool handlerIsDefault(int signo);
};

bool TestTermSignal::handlerIsDefault(int signo)
{
    struct sigaction current = {};
    ::sigaction(signo, nullptr, &current);
    return current.sa_handler == SIG_DFL;
}

void TestTermSignal::signalBecomesQtSignal_data()
{
    QTest::addColumn<int>("signo");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestTermSignal::signalBecomesQtSignal()
{
    QFETCH(int, signo);
    ZQTermSignalWatcher watcher;
    QVERIFY(watcher.isActive());
    QVERIFY(!handlerIsDefault(signo));
    QSignalSpy spy(&watcher, &ZQTermSignalWatcher::sigTerminate);
    ::raise(signo);
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), signo);
    // The orderly stop is under way: a second signal must end the process.
    QVERIFY(handlerIsDefault(SIGTERM));
    QVERIFY(handlerIsDefault(SIGINT));
}

void TestTermSignal::onlyOneWatcherPerProcess()
{
    ZQTermSignalWatcher first;
    ZQTermSignalWatcher second;
    QVERIFY(first.isActive());
    QVERIFY(!second.isActive());
}

QTEST_GUILESS_MAIN(TestTermSignal)
#include "tst_termsignal.moc"
