#ifndef BOARDSIMPROCESS_H
#define BOARDSIMPROCESS_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// Runs the boardsim program for a test and reads what it prints.
class BoardSimProcess : public QObject
{
    Q_OBJECT
public:
    // One frame the simulated board received, with the line settings then.
    struct Received
    {
        double seconds = 0; // since the simulator started
        QByteArray frame;
        int baud = 0;
        int dataBits = 0;
        QString parity;
        QString stopBits;
        QString flow;
    };

    explicit BoardSimProcess(QObject *parent = nullptr);
    ~BoardSimProcess() override;

    // Starts boardsim with these arguments and waits for its pseudo-terminal.
    bool start(const QStringList &arguments);
    QString path() const { return m_path; }
    // Sends one command line to the simulator's standard input.
    void command(const QString &line);
    // Ends the simulator, which closes the pseudo-terminal under the PC.
    void stop();
    // Waits for the simulator to end by itself; its exit code, or -1 when it
    // still runs after timeoutMs.
    int waitForEnd(int timeoutMs);

    QList<Received> received();
    // Received frames equal to `frame`.
    QList<Received> received(const QByteArray &frame);
    QStringList output();

private:
    void readOutput();
    void drain();

    QProcess m_process;
    QString m_path;
    QByteArray m_partial;
    QStringList m_lines;
    QList<Received> m_received;
};

#endif
