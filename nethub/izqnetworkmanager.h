#ifndef IZQNETWORKMANAGER_H
#define IZQNETWORKMANAGER_H

#include <QString>

class QObject;
class IZQAppRenew;
class IZQFarNetManager;
class IZQOssSkyvaultManager;
class IZQResHandler;
class IZQSkyBasis;
class IZQSkyProfile;
class IZQSkyvaultManager;
class IZQUserTrailManager;

// The application's one entry point to the cloud-service plug-ins. Each
// getter loads its plug-in on first use (from the work directory when one
// is set, else from beside the program) and answers null while it cannot be
// loaded; a later call tries again.
class IZQNetWorkManager
{
public:
    // The manager as Qt object, for connecting to its signals.
    virtual QObject *getObject() = 0;
    virtual IZQFarNetManager *getFarNetManager() = 0;
    virtual IZQSkyBasis *getSkyBasis() = 0;
    virtual IZQResHandler *getResHandler() = 0;
    virtual IZQUserTrailManager *getUserTrailManager() = 0;
    virtual IZQSkyProfile *getSkyProfile() = 0;
    virtual IZQAppRenew *getAppRenew() = 0;
    virtual IZQSkyvaultManager *getSkyvaultManager() = 0;
    virtual IZQOssSkyvaultManager *getOssSkyvaultManager() = 0;
    // "en_US", "zh_CN" or "mn" (any case); any other language gets Chinese.
    virtual void switchQM(const QString &language) = 0;
    // Where plug-ins and "version.ini" are looked for; "\" become "/".
    virtual void setWorkDir(const QString &path) = 0;

protected:
    // The manager belongs to the parent given to ZQNetHub::getInst().
    ~IZQNetWorkManager() = default;
};

#endif
