#include "zqwatchmanager.h"

#include "desktoplogging.h"

#include <QProcess>
#include <QTimer>

ZQWatchManager::ZQWatchManager(QObject *parent)
    : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &ZQWatchManager::handleTimeOut);
}

void ZQWatchManager::checkVirtualKeyBoard(QObject *, QEvent *)
{
    m_timer->start(200);
}

void ZQWatchManager::startWatch(QObject *watched, QEvent *event)
{
    if (watched)
        checkVirtualKeyBoard(watched, event);
}

void ZQWatchManager::handleTimeOut()
{
    // Stop first: a keyboard that fails to start must not be retried every 200 ms.
    m_timer->stop();
    if (!QProcess::startDetached(QStringLiteral("onboard"), QStringList()))
        qCDebug(lcDesktop, "ZQWatchManager: onboard could not be started");
}
