#ifndef IZQMESSAGEMANAGER_H
#define IZQMESSAGEMANAGER_H

#include <QByteArray>
#include <QtPlugin>

class QObject;

// What the control centre sees of the serial link: queue a frame for the
// mainboard, reach the Qt object for its signals, and (re)start the link.
class IZQMessageManager
{
public:
    virtual ~IZQMessageManager() = default;

    // Queues one whole board frame; dropped while the link is not up.
    virtual void writeMsg(QByteArray frame) = 0;
    // The implementing Qt object, for connecting serialPortSucces(int),
    // onReturnMessage(QByteArray) and serialPortError().
    virtual QObject *getObject() = 0;
    // Opens the port and starts the handshake (again).
    virtual void checkPort() = 0;
};

Q_DECLARE_INTERFACE(IZQMessageManager, "IZQMessageManager")

#endif
