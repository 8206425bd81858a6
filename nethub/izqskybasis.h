#ifndef IZQSKYBASIS_H
#define IZQSKYBASIS_H

#include <QtPlugin>

class QObject;

// What the network centre needs of the cloud common functions plug-in: its Qt
// object, for the plug-in's own signals and slots. A plug-in implements this
// interface and names it in Q_INTERFACES; the manager loads it and casts to
// it.
class IZQSkyBasis
{
public:
    virtual QObject *getObject() = 0;

protected:
    // Plug-in instances belong to the plug-in loader, never to a caller.
    ~IZQSkyBasis() = default;
};

#define IZQSkyBasis_iid "com.zqt.bricks.IZQSkyBasis/1.0"
Q_DECLARE_INTERFACE(IZQSkyBasis, IZQSkyBasis_iid)

#endif
