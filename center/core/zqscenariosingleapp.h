#ifndef ZQSCENARIOSINGLEAPP_H
#define ZQSCENARIOSINGLEAPP_H

#include <QApplication>
#include <QString>

class QLocalServer;
class QLockFile;

// Application object that knows whether another copy with the same
// identifier runs for this user, and hands text to that copy.
//
// The first copy holds a lock file and listens on a local socket, both in the
// temporary-files folder; later copies find the lock taken and connect to the
// socket. A lock left behind by a copy that died is taken over.
class ZQScenarioSingleApp : public QApplication
{
    Q_OBJECT
public:
    ZQScenarioSingleApp(const QString &id, int &argc, char **argv);
    ~ZQScenarioSingleApp() override;

    QString id() const;

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
    QLockFile *m_lock = nullptr;
    QLocalServer *m_server = nullptr;
    bool m_running = false;
};

#endif // ZQSCENARIOSINGLEAPP_H
