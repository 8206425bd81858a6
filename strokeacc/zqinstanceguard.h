#ifndef ZQINSTANCEGUARD_H
#define ZQINSTANCEGUARD_H

#include <QString>

// One agent per user. The guard is SingleApplication (libsingleapplication-dev),
// which Debian builds on QCoreApplication; the agent itself needs a
// QApplication, and a process has only one application object. So a small
// keeper process, forked before Qt starts, holds the SingleApplication for
// the agent's lifetime: it answers "first" or "already running" over a pipe,
// then waits until the agent's end of a second pipe closes (however the
// agent ends) and releases the guard.
class ZQInstanceGuard
{
public:
    // Call before any Qt object exists. True when this is the only copy
    // running under `id`, or when the check itself could not run.
    static bool acquire(const QString &id);
};

#endif // ZQINSTANCEGUARD_H
