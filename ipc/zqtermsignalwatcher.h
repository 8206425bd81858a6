#ifndef ZQTERMSIGNALWATCHER_H
#define ZQTERMSIGNALWATCHER_H

#include <QList>
#include <QObject>

class QSocketNotifier;

// Turns stop signals (SIGTERM and SIGINT unless told otherwise) into a Qt
// signal on the thread that owns the watcher. The handler only writes the
// signal number into a socket pair; everything else happens in the event
// loop. One watcher per process; velacenter, zqbus and boardsim share it.
class ZQTermSignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit ZQTermSignalWatcher(QObject *parent = nullptr);
    explicit ZQTermSignalWatcher(const QList<int> &signalNumbers, QObject *parent = nullptr);
    ~ZQTermSignalWatcher() override;

    bool isActive() const;

    // True once SIGTERM or SIGINT has arrived. Set by the handler itself, so
    // code that waits on the main thread (whose event loop only sees the
    // signal later) can stop waiting at once. Safe from any thread.
    static bool stopRequested();

signals:
    void sigTerminate(int signo);

private slots:
    void slotReadSignal();

private:
    void start();
    static void handleSignal(int signo);
    void restoreDefaults();

    QList<int> m_signals;

    QSocketNotifier *m_notifier = nullptr;
};

#endif // ZQTERMSIGNALWATCHER_H
