#ifndef ZQSCENARIOSINGLEAPP_H
#define ZQSCENARIOSINGLEAPP_H

#include <QApplication>
#include <QString>

class QLocalServer;
class QLockFile;

// Application object that knows whether another copy with the same
// identifier runs for this user, and hands text to that copy.
//
// The first copy holds a lock file and listens on a local socket, both in a
// folder of this user alone (see guardPath()); later copies find the lock
// taken and connect to the socket. A lock left behind by a copy that died is
// taken over.
class ZQScenarioSingleApp : public QApplication
{
    Q_OBJECT
public:
    ZQScenarioSingleApp(const QString &id, int &argc, char **argv);
    ~ZQScenarioSingleApp() override;

    QString id() const;
    // Lock and socket without their endings (".lock", ".sock"): in
    // "<temporary folder>/Tavolix-<uid>/", mode 0700, or, when another
    // account holds that name, in "$XDG_RUNTIME_DIR/Tavolix/". Empty when
    // neither is to be had; the guard is off then.
    QString guardPath() const;

    // True when another copy with this identifier held the lock at construction.
    bool isRunning() const;

    // Hands text to the running copy; true once it confirmed receipt within
    // timeout milliseconds. Always false in the copy that is itself the first.
    bool sendMessage(const QString &message, int timeout = 5000);

    // Largest text accepted from another copy, in UTF-8 bytes.
    static constexpr int kMaxMessageBytes = 64 * 1024;

signals:
    void messageReceived(const QString &message);

private slots:
    void slotNewConnection();

private:
    QString socketPath() const;

    QString m_id;
    QString m_base;
    QLockFile *m_lock = nullptr;
    QLocalServer *m_server = nullptr;
    bool m_running = false;
};

#endif // ZQSCENARIOSINGLEAPP_H
