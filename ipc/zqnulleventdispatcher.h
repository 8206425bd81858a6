#ifndef ZQNULLEVENTDISPATCHER_H
#define ZQNULLEVENTDISPATCHER_H

#include <QAbstractEventDispatcher>

// An event dispatcher that holds no descriptor and dispatches nothing. Set on
// a QThread before it starts, it keeps Qt from creating its own for that
// thread (a wake-up descriptor per thread, whose creation aborts the process
// when descriptors run out). For threads that never run an event loop: the
// hub's connection threads.
class ZQNullEventDispatcher : public QAbstractEventDispatcher
{
    Q_OBJECT
public:
    explicit ZQNullEventDispatcher(QObject *parent = nullptr);

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    bool hasPendingEvents() override;
    void registerSocketNotifier(QSocketNotifier *notifier) override;
    void unregisterSocketNotifier(QSocketNotifier *notifier) override;
    void registerTimer(int timerId, int interval, Qt::TimerType timerType, QObject *object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject *object) override;
    QList<TimerInfo> registeredTimers(QObject *object) const override;
    int remainingTime(int timerId) override;
    void wakeUp() override;
    void interrupt() override;
    void flush() override;
};

#endif // ZQNULLEVENTDISPATCHER_H
