#pragma once

#include <QMutex>
#include <QObject>
#include <QString>

class ZQIPC;

// Desktop questions the control centre asks about the suite's programs: is a
// program running, which full-screen program is in front, and asking a
// program to come to the front or to close. It talks to the programs on the
// bus as "ID_APP_GETTOPAPP_DLL". One instance per process.
class CZqSharedKit : public QObject
{
    Q_OBJECT
public:
    static CZqSharedKit *getInstence();

    // 1 when a process whose command line holds `name` runs, else 0. Only
    // names ending in ".exe" can be found (the grep line would match any other).
    int checkProgramRun(const QString &name);
    // Index of the suite program in front (0..3), -1 when none answered within
    // about a second. The annotation program, whenever it runs, counts as in front.
    int getActiveApp();
    // getActiveApp() as an application identifier; empty when unknown.
    QString getTopApp();
    void ShowActiovApp(QString app);
    void closeWindow(QString app);

    ~CZqSharedKit() override;

public slots:
    void slotReciveMessage(QString message);

private:
    CZqSharedKit();
    // (Re)connects the facade to the hub when it is not connected; callers
    // hold m_sendMutex.
    bool ensureConnected();
    bool reconnect();
    int publish(const QString &eventId, const QString &to);

    QMutex *m_mutex = nullptr;  // guards the three answer fields below
    ZQIPC *m_ipc = nullptr;
    int m_topIndex = -1;
    bool m_answered = false;
    int m_askers = 0;           // getActiveApp calls waiting for an answer
    QMutex m_sendMutex;         // the facade is not safe for concurrent senders
};
