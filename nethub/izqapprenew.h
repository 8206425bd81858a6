#ifndef IZQAPPRENEW_H
#define IZQAPPRENEW_H

#include <QtPlugin>

class QObject;

// What the network centre needs of the software update plug-in: its Qt object,
// for the plug-in's own signals and slots. A plug-in implements this interface
// and names it in Q_INTERFACES; the manager loads it and casts to it.
class IZQAppRenew
{
public:
    virtual QObject *getObject() = 0;

protected:
    // Plug-in instances belong to the plug-in loader, never to a caller.
    ~IZQAppRenew() = default;
};

#define IZQAppRenew_iid "com.zqt.bricks.IZQAppRenew/1.0"
Q_DECLARE_INTERFACE(IZQAppRenew, IZQAppRenew_iid)

#endif
