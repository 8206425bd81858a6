#include "zqnethub.h"

#include "zqnetworkmanager.h"

IZQNetWorkManager *ZQNetHub::getInst(QObject *parent)
{
    return new ZQNetWorkManager(parent);
}
