#ifndef ZQPRIVATEDIR_H
#define ZQPRIVATEDIR_H

#include <QString>

#include <sys/types.h>

// Folders of this user in places that other accounts share, such as /tmp:
// taken only when no other account can redirect them (a symbolic link put in
// the way) or swap their contents (a folder of its own under the expected
// name).
class ZQPrivateDir
{
public:
    // Makes or checks every folder of `path` below `root`, which is trusted
    // as it stands ("/tmp" with its sticky bit, or a folder of the user's
    // own). True when none of them is a symbolic link or belongs to another
    // user. Missing folders are made with mode 0700; the permission bits in
    // `forbidden` are taken away from existing ones (022: nobody else may
    // write there; 077: nobody else may enter). Walked from an open folder to
    // the next, so a link swapped in half-way is seen too. On false `why`
    // names the part in the way and what is wrong with it.
    static bool ensure(const QString &root, const QString &path, mode_t forbidden, QString *why);

    // $XDG_RUNTIME_DIR when it is a folder of this user that nobody else may
    // enter; empty otherwise.
    static QString runtimeDir();
};

#endif // ZQPRIVATEDIR_H
