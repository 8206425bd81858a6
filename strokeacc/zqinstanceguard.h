#ifndef ZQINSTANCEGUARD_H
#define ZQINSTANCEGUARD_H

#include <QByteArray>
#include <QString>

// One agent per user, wherever the program lies. The guard is
// SingleApplication (libsingleapplication-dev), which Debian builds on
// QCoreApplication; the agent itself needs a QApplication, and a process has
// only one application object. So a small keeper process, forked before Qt
// starts, holds the SingleApplication for the agent's lifetime: it answers
// "first" or "already running" over a pipe, then waits until the agent's end
// of a second pipe closes (however the agent ends) and releases the guard.
//
// SingleApplication names its lock files and its local socket in the
// temporary folder. In a shared /tmp another account could plant those names
// before the agent starts and remove them afterwards (two agents then run),
// so the keeper points the temporary folder at a folder only this user can
// write to (privateFolder()). When there is none, the agent starts unguarded
// and says so.
class ZQInstanceGuard
{
public:
    // Call before any Qt object exists. True when this is the only copy
    // running under `id`, or when the check itself could not run.
    static bool acquire(const QString &id);

    // A folder that only the effective user can change: "vela" in
    // $XDG_RUNTIME_DIR when that is set (a desktop session), else
    // ".cache/vela" in the home folder. It is created (0700) when missing and
    // taken only when it is a real folder of this user that nobody else can
    // write to, in a parent that nobody else can rename it out of. Empty when
    // it does not qualify.
    static QByteArray privateFolder();
};

#endif // ZQINSTANCEGUARD_H
