#ifndef IZQUSERTRAILMANAGER_H
#define IZQUSERTRAILMANAGER_H

#include <QtPlugin>

class QObject;

// What the network centre needs of the user actions plug-in: its Qt object,
// for the plug-in's own signals and slots. A plug-in implements this interface
// and names it in Q_INTERFACES; the manager loads it and casts to it.
class IZQUserTrailManager
{
public:
    virtual QObject *getObject() = 0;

protected:
    // Plug-in instances belong to the plug-in loader, never to a caller.
    ~IZQUserTrailManager() = default;
};

#define IZQUserTrailManager_iid "com.zqt.bricks.IZQUserTrailManager/1.0"
Q_DECLARE_INTERFACE(IZQUserTrailManager, IZQUserTrailManager_iid)

#endif
