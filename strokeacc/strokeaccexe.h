#ifndef STROKEACCEXE_H
#define STROKEACCEXE_H

#include <QObject>
#include <QString>
#include <QTimer>

class ZQIPC;
class ZQSACW;

// The agent: takes the mainboard's marker requests from the control centre's
// publishes, paints the corner squares for 1.5 s and answers the control
// centre with the frame the board expects.
//
// The bus connection is kept by a once-a-second check on the event loop: a
// failed connect, or a connection the hub dropped (the control centre
// restarting), gets a new facade, and its subscription follows one second
// after the connect. Nothing here waits for the hub.
class StrokeAccExe : public QObject
{
    Q_OBJECT
public:
    explicit StrokeAccExe(QObject *parent = nullptr);
    ~StrokeAccExe() override;

    // Paints the four squares in `colour` (0x00RRGGBB) and its contrast
    // colour, and starts the 1.5 s hide timer. Returns 0.
    int showStrokeAccColorWindow(int colour);

    // Sends the answer code to the control centre; nothing without a facade.
    void sendInkDrawIPC(QString property);

public slots:
    void sltRecvInfo(const QString &sInfo);
    void sltHideCW();

private slots:
    void sltKeepBus();
    void sltRegister();

private:
    ZQIPC *m_ipc = nullptr;
    QTimer m_busTimer;        // once a second: connected? else connect again
    QTimer m_registerTimer;   // one second after a connect: subscribe
    QTimer m_hideTimer;
    ZQSACW *m_corners[4] = {};
    qint64 m_lastAccepted = 0;
};

StrokeAccExe *strokeAccExeInit();
// -1001 for a null pointer, else frees the agent and returns 0.
int strokeAccExeFree(StrokeAccExe *exe);

#endif // STROKEACCEXE_H
