#ifndef IZQOSSSKYVAULTMANAGER_H
#define IZQOSSSKYVAULTMANAGER_H

#include <QtPlugin>

class QObject;

// What the network centre needs of the object-storage cloud-drive plug-in: its
// Qt object, for the plug-in's own signals and slots. A plug-in implements
// this interface and names it in Q_INTERFACES; the manager loads it and casts
// to it.
class IZQOssSkyvaultManager
{
public:
    virtual QObject *getObject() = 0;

protected:
    // Plug-in instances belong to the plug-in loader, never to a caller.
    ~IZQOssSkyvaultManager() = default;
};

#define IZQOssSkyvaultManager_iid "com.zqt.bricks.IZQOssSkyvaultManager/1.0"
Q_DECLARE_INTERFACE(IZQOssSkyvaultManager, IZQOssSkyvaultManager_iid)

#endif
