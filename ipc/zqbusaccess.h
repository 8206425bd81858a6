#ifndef ZQBUSACCESS_H
#define ZQBUSACCESS_H

#include "zqpeerowner.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <sys/types.h>
#include <unistd.h>

// Who may join the hub. A connection from this machine is admitted when the
// socket at its other end belongs to the hub's own user, to a user named in
// the allow list, or to a member of a group named there. A connection from
// another host (only possible when the hub listens on every address) is
// admitted: there is no user to ask about. Used on the accept thread only.
class ZQBusAccess
{
public:
    ZQBusAccess();

    // Entries: a uid ("1001"), a user name ("teacher"), or a group as "@name"
    // or "@gid" ("@staff", "@1002"). Unknown entries are named in a warning
    // and left out. Returns the entries it could not use.
    QStringList setAllowed(const QStringList &entries);

    struct Decision {
        bool admitted = false;
        bool local = false;   // the peer is a socket of this machine
        uid_t uid = uid_t(-1);
    };
    // Looks the peer of `fd` up and decides. A refusal is warned about at
    // most once a minute per user, with the count of the others.
    Decision check(int fd);

    // Opens what the checks need, so that a hub short of descriptors later
    // can still check. Warns once when the kernel cannot be asked.
    void prepare();

    // True for the hub's own user only: monitors are for it alone.
    static bool isOwnUser(bool local, uid_t uid) { return local && uid == ::geteuid(); }

private:
    bool allowedUid(uid_t uid);
    void warnRefused(uid_t uid);

    ZQPeerOwner m_owner;
    uid_t m_ownUid;
    QSet<uid_t> m_uids;
    QSet<gid_t> m_gids;
    struct Verdict {
        bool allowed;
        qint64 at;
    };
    QHash<uid_t, Verdict> m_groupVerdicts;   // group look-ups, kept a while
    struct Warned {
        qint64 at = 0;
        int suppressed = 0;
    };
    QHash<uid_t, Warned> m_warned;
    QElapsedTimer m_clock;
    bool m_lookupWarned = false;
};

#endif // ZQBUSACCESS_H
