#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>

class QThread;
class ZQIPC;

// Desktop questions the control centre asks about the suite's programs: is a
// program running, which full-screen program is in front, and asking a
// program to come to the front or to close. It talks to the programs on the
// bus as "ID_APP_GETTOPAPP_DLL". One instance per process.
//
// Every function may be called from any thread, several at once. Answers
// arrive on a thread of the kit's own, so a caller needs no event loop and
// no other thread has to be free for it to get its answer.
class CZqSharedKit : public QObject
{
    Q_OBJECT
public:
    static CZqSharedKit *getInstence();

    // 1 when a process whose command line holds `name` runs, else 0, as
    // "ps -ef|grep" tells it. Only names ending in ".exe" can be found (the
    // grep line would match any other).
    int checkProgramRun(const QString &name);
    // Index of the suite program in front (0..3), -1 when none answered within
    // a second. The annotation program, whenever it runs, counts as in front.
    // Blocks its caller until the answer, at most a second; the caller's own
    // events wait meanwhile.
    int getActiveApp();
    // getActiveApp() as an application identifier; empty when unknown.
    QString getTopApp();
    void ShowActiovApp(QString app);
    void closeWindow(QString app);

    ~CZqSharedKit() override;

    // How long getActiveApp() waits for an answer.
    static const int kAnswerMs = 1000;

public slots:
    // Every message that reaches the kit's bus client; an answer to
    // "ID_APP_IS_TOP" answers every question then waiting. Runs on the
    // kit's bus thread.
    void slotReciveMessage(QString message);

private:
    // One caller of getActiveApp() waiting for its answer.
    struct Question {
        int index = -1;
        bool answered = false;
    };

    CZqSharedKit();
    // (Re)connects the facade to the hub when it is not connected; callers
    // hold m_sendMutex and are not on the bus thread.
    bool ensureConnected();
    bool reconnect();
    int publish(const QString &eventId, const QString &to);

    // The standard primitives, which ThreadSanitizer sees through, where
    // threads meet.
    std::mutex m_answerMutex;       // guards m_questions and what they point to
    std::condition_variable m_answerArrived;
    QList<Question *> m_questions;  // the getActiveApp() calls waiting now
    QThread *m_busThread = nullptr; // the facade's thread: answers and rejoins
    QObject *m_busContext = nullptr; // runs work on the bus thread
    // Made, rejoined and deleted on the bus thread, used by the senders.
    std::atomic<ZQIPC *> m_ipc{nullptr};
    std::mutex m_sendMutex;         // the facade is not safe for concurrent senders
};
