#include "zqbusaccess.h"

#include "zqipclogging.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr qint64 kWarnEveryMs = 60000;
constexpr qint64 kGroupVerdictMs = 10000;

QString userName(uid_t uid)
{
    std::vector<char> buf(4096);
    passwd pw{}, *found = nullptr;
    if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString();
}
} // namespace

ZQBusAccess::ZQBusAccess() : m_ownUid(::geteuid())
{
    m_clock.start();
}

QStringList ZQBusAccess::setAllowed(const QStringList &entries)
{
    m_uids.clear();
    m_gids.clear();
    m_groupVerdicts.clear();
    QStringList unusable;
    std::vector<char> buf(16384);
    for (QString entry : entries) {
        entry = entry.trimmed();
        if (entry.isEmpty())
            continue;
        const bool group = entry.startsWith(QLatin1Char('@'));
        const QString name = group ? entry.mid(1) : entry;
        bool numeric = false;
        const uint id = name.toUInt(&numeric);
        if (numeric) {
            if (group)
                m_gids.insert(gid_t(id));
            else
                m_uids.insert(uid_t(id));
            continue;
        }
        const QByteArray local = name.toLocal8Bit();
        if (group) {
            ::group gr{}, *found = nullptr;
            if (::getgrnam_r(local.constData(), &gr, buf.data(), buf.size(), &found) == 0 && found) {
                m_gids.insert(found->gr_gid);
                continue;
            }
        } else {
            passwd pw{}, *found = nullptr;
            if (::getpwnam_r(local.constData(), &pw, buf.data(), buf.size(), &found) == 0 && found) {
                m_uids.insert(found->pw_uid);
                continue;
            }
        }
        unusable << entry;
    }
    if (!unusable.isEmpty())
        qCWarning(lcZqIpc) << "bus hub: no such user or group in the allow list, left out:" << unusable;
    return unusable;
}

void ZQBusAccess::prepare()
{
    if (!m_owner.open() && !m_lookupWarned) {
        m_lookupWarned = true;
        qCWarning(lcZqIpc) << "bus hub: cannot ask the kernel who owns a connection (sock_diag:"
                           << std::strerror(m_owner.lastError()) << "); refusing connections it cannot check";
    }
}

bool ZQBusAccess::allowedUid(uid_t uid)
{
    if (uid == m_ownUid || m_uids.contains(uid))
        return true;
    if (m_gids.isEmpty())
        return false;
    const qint64 now = m_clock.elapsed();
    auto it = m_groupVerdicts.constFind(uid);
    if (it != m_groupVerdicts.constEnd() && now - it->at < kGroupVerdictMs)
        return it->allowed;
    // The user's groups as the system's user database has them now.
    bool allowed = false;
    std::vector<char> buf(16384);
    passwd pw{}, *found = nullptr;
    if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found) {
        int count = 64;
        std::vector<gid_t> groups(static_cast<size_t>(count));
        if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
            groups.resize(size_t(count));
            ::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count);
        }
        groups.resize(size_t(qMax(count, 0)));
        for (gid_t g : groups)
            allowed = allowed || m_gids.contains(g);
    }
    if (m_groupVerdicts.size() > 256)
        m_groupVerdicts.clear();
    m_groupVerdicts.insert(uid, {allowed, now});
    return allowed;
}

ZQBusAccess::Decision ZQBusAccess::check(int fd)
{
    Decision d;
    uid_t uid = uid_t(-1);
    bool loopback = false;
    switch (m_owner.lookup(fd, &uid, &loopback)) {
    case ZQPeerOwner::Result::Owner:
        d.local = true;
        d.uid = uid;
        d.admitted = allowedUid(uid);
        if (!d.admitted)
            warnRefused(uid);
        return d;
    case ZQPeerOwner::Result::Closed:
        // Its owner closed it before it could be looked at: whoever sent
        // what waits in the connection cannot be told.
        qCDebug(lcZqIpc) << "bus hub: a connection closed before its owner could be checked; refused";
        return d;
    case ZQPeerOwner::Result::NotLocal:
        // A socket of this machine would have been found; a loopback peer
        // that is not there any more cannot be told either.
        d.admitted = !loopback;
        if (!d.admitted)
            qCDebug(lcZqIpc) << "bus hub: a loopback connection without a socket behind it; refused";
        return d;
    case ZQPeerOwner::Result::Failed:
        break;
    }
    if (!m_lookupWarned) {
        m_lookupWarned = true;
        qCWarning(lcZqIpc) << "bus hub: cannot ask the kernel who owns a connection (sock_diag:"
                           << std::strerror(m_owner.lastError()) << "); refusing connections it cannot check";
    }
    return d;
}

void ZQBusAccess::warnRefused(uid_t uid)
{
    const qint64 now = m_clock.elapsed();
    Warned &w = m_warned[uid];
    if (w.at != 0 && now - w.at < kWarnEveryMs) {
        ++w.suppressed;
        return;
    }
    const QString name = userName(uid);
    QString more;
    if (w.suppressed > 0)
        more = QStringLiteral(" (%1 more refused since the last warning)").arg(w.suppressed);
    qCWarning(lcZqIpc).noquote() << QStringLiteral("bus hub: refused a connection from uid %1%2: only programs of "
                                                   "uid %3 and of the users in [Bus] AllowUsers may join%4")
                                        .arg(uid)
                                        .arg(name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(name))
                                        .arg(m_ownUid)
                                        .arg(more);
    w.at = now == 0 ? 1 : now;
    w.suppressed = 0;
}
