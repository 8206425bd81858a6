#ifndef ZQNETHUB_H
#define ZQNETHUB_H

#include <QObject>

class IZQNetWorkManager;

// Entry point of the network centre library.
class ZQNetHub : public QObject
{
    Q_OBJECT
public:
    // A new, independent manager owned by `parent` on every call.
    static IZQNetWorkManager *getInst(QObject *parent);
};

#endif
