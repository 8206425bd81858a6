#ifndef FRONTAPP_H
#define FRONTAPP_H

#include <QObject>
#include <QString>
#include <QThread>

class ZQIPC;

// The desktop as the whiteboard module sees it when it addresses the
// application in front: a private bus hub, on a free port that this process
// hands to the shared kit through VELA_BUS_PORT, and a program on it that
// answers the kit's "ID_APP_IS_TOP" question as `appId` (or stays silent for
// an empty one, as when no application of the suite is in front). So the
// module's own code runs as in the centre without touching the panel's bus.
// Create it before anything asks the shared kit.
class FrontApp : public QObject
{
    Q_OBJECT
public:
    explicit FrontApp(const QString &appId, QObject *parent = nullptr);
    ~FrontApp() override;


private:
    void answer(const QString &text);

    QString m_appId;
    ZQIPC *m_hub;
    // The answering program lives on a thread of its own: the module asks
    // while this process's main thread waits for what it sends.
    QThread m_frontThread;
    ZQIPC *m_front;
};

#endif // FRONTAPP_H
