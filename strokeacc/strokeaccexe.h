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
// The bus facade runs in reconnecting mode: a hub that is not there yet, or
// one that went away (the control centre restarting), is joined by the
// facade itself, which also sends the subscription again. The subscription
// is made one second after the first join. Nothing here waits for the hub.
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
    void sltJoined();
    void sltLost();
    void sltRegister();

private:
    ZQIPC *m_ipc = nullptr;
    QTimer m_registerTimer;   // one second after the first join: subscribe
    bool m_registered = false;
    QTimer m_hideTimer;
    ZQSACW *m_corners[4] = {};
    qint64 m_lastAccepted = 0;
};

StrokeAccExe *strokeAccExeInit();
// -1001 for a null pointer, else frees the agent and returns 0.
int strokeAccExeFree(StrokeAccExe *exe);

#endif // STROKEACCEXE_H
