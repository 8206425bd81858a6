#ifndef IZQSKYVAULTMANAGER_H
#define IZQSKYVAULTMANAGER_H

#include <QtPlugin>

class QObject;

// What the network centre needs of the cloud-drive plug-in: its Qt object, for
// the plug-in's own signals and slots. A plug-in implements this interface and
// names it in Q_INTERFACES; the manager loads it and casts to it.
class IZQSkyvaultManager
{
public:
    virtual QObject *getObject() = 0;

protected:
    // Plug-in instances belong to the plug-in loader, never to a caller.
    ~IZQSkyvaultManager() = default;
};

#define IZQSkyvaultManager_iid "com.zqt.bricks.IZQSkyvaultManager/1.0"
Q_DECLARE_INTERFACE(IZQSkyvaultManager, IZQSkyvaultManager_iid)

#endif
