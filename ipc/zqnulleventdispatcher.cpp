#include "zqnulleventdispatcher.h"

ZQNullEventDispatcher::ZQNullEventDispatcher(QObject *parent) : QAbstractEventDispatcher(parent) {}

bool ZQNullEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags)
{
    return false;
}

bool ZQNullEventDispatcher::hasPendingEvents()
{
    return false;
}

void ZQNullEventDispatcher::registerSocketNotifier(QSocketNotifier *) {}

void ZQNullEventDispatcher::unregisterSocketNotifier(QSocketNotifier *) {}

void ZQNullEventDispatcher::registerTimer(int, int, Qt::TimerType, QObject *) {}

bool ZQNullEventDispatcher::unregisterTimer(int)
{
    return false;
}

bool ZQNullEventDispatcher::unregisterTimers(QObject *)
{
    return false;
}

QList<QAbstractEventDispatcher::TimerInfo> ZQNullEventDispatcher::registeredTimers(QObject *) const
{
    return {};
}

int ZQNullEventDispatcher::remainingTime(int)
{
    return -1;
}

void ZQNullEventDispatcher::wakeUp() {}

void ZQNullEventDispatcher::interrupt() {}

void ZQNullEventDispatcher::flush() {}
