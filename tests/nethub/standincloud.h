#ifndef STANDINCLOUD_H
#define STANDINCLOUD_H

#include "izqapprenew.h"
#include "izqfarnetmanager.h"
#include "izqossskyvaultmanager.h"
#include "izqskybasis.h"
#include "izqskyprofile.h"
#include "izqskyvaultmanager.h"
#include "izqusertrailmanager.h"

#include <QObject>

// Stand-in for every cloud plug-in: one file, copied under each plug-in's
// file name. getObject() through any of its interfaces is the plug-in.
class StandInCloud : public QObject,
                     public IZQSkyBasis,
                     public IZQFarNetManager,
                     public IZQUserTrailManager,
                     public IZQSkyProfile,
                     public IZQAppRenew,
                     public IZQSkyvaultManager,
                     public IZQOssSkyvaultManager
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "Vela.Test.StandInCloud")
    Q_INTERFACES(IZQSkyBasis IZQFarNetManager IZQUserTrailManager IZQSkyProfile IZQAppRenew
                 IZQSkyvaultManager IZQOssSkyvaultManager)
public:
    QObject *getObject() override { return this; }
};

#endif
