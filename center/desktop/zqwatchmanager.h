#pragma once

#include <QObject>

class QEvent;
class QTimer;

// Starts the on-screen keyboard once a burst of requests has settled: each
// request (re)starts a 200 ms delay, and only its expiry starts "onboard".
class ZQWatchManager : public QObject
{
    Q_OBJECT
public:
    explicit ZQWatchManager(QObject *parent = nullptr);

    void checkVirtualKeyBoard(QObject *watched, QEvent *event);
    void startWatch(QObject *watched, QEvent *event);

public slots:
    void handleTimeOut();

private:
    QTimer *m_timer = nullptr;
};
