#ifndef IZQFARNETMANAGER_H
#define IZQFARNETMANAGER_H

#include <QtPlugin>

class QObject;

// What the network centre needs of the wide-area network plug-in: its Qt
// object, for the plug-in's own signals and slots. A plug-in implements this
// interface and names it in Q_INTERFACES; the manager loads it and casts to
// it.
class IZQFarNetManager
{
public:
    virtual QObject *getObject() = 0;

protected:
    // Plug-in instances belong to the plug-in loader, never to a caller.
    ~IZQFarNetManager() = default;
};

#define IZQFarNetManager_iid "com.zqt.bricks.IZQFarNetManager/1.0"
Q_DECLARE_INTERFACE(IZQFarNetManager, IZQFarNetManager_iid)

#endif
