#ifndef IZQSKYPROFILE_H
#define IZQSKYPROFILE_H

#include <QtPlugin>

class QObject;

// What the network centre needs of the cloud user information plug-in: its Qt
// object, for the plug-in's own signals and slots. A plug-in implements this
// interface and names it in Q_INTERFACES; the manager loads it and casts to
// it.
class IZQSkyProfile
{
public:
    virtual QObject *getObject() = 0;

protected:
    // Plug-in instances belong to the plug-in loader, never to a caller.
    ~IZQSkyProfile() = default;
};

#define IZQSkyProfile_iid "com.zqt.bricks.IZQSkyProfile/1.0"
Q_DECLARE_INTERFACE(IZQSkyProfile, IZQSkyProfile_iid)

#endif
