#ifndef IZQMESSAGEMANAGER_H
#define IZQMESSAGEMANAGER_H

#include <QByteArray>
#include <QList>
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
    // onReturnMessage(QByteArray), serialPortError() and serialPortLost().
    virtual QObject *getObject() = 0;
    // Opens the port and starts the handshake (again). After closePort() the
    // port is looked for afresh: "COM/PortName" if set, else the first port
    // the system lists; a port that cannot be opened then fails at once.
    virtual void checkPort() = 0;
    // After serialPortLost(): closes the port, stops the reader and writer
    // and returns the frames the writer had not sent, oldest first.
    virtual QList<QByteArray> closePort() = 0;
};

Q_DECLARE_INTERFACE(IZQMessageManager, "IZQMessageManager")

#endif
