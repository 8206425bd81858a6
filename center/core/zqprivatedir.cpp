#include "zqprivatedir.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

bool ZQPrivateDir::ensure(const QString &root, const QString &path, mode_t forbidden, QString *why)
{
    const QString base = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    if (path != root && !path.startsWith(base)) {
        *why = path + QStringLiteral(" is not below ") + root;
        return false;
    }
    int fd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *why = root + QStringLiteral(": ") + errnoText();
        return false;
    }
    QString current = base.left(base.size() - 1); // "" for "/"
    const QStringList parts = path.mid(base.size()).split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty())
            continue;
        current += QLatin1Char('/') + part;
        const QByteArray name = QFile::encodeName(part);
        if (::mkdirat(fd, name.constData(), 0700) != 0 && errno != EEXIST) {
            *why = current + QStringLiteral(": ") + errnoText();
            ::close(fd);
            return false;
        }
        const int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            struct stat link;
            const bool isLink = ::fstatat(fd, name.constData(), &link, AT_SYMLINK_NOFOLLOW) == 0
                                && S_ISLNK(link.st_mode);
            *why = current + (isLink ? QStringLiteral(" is a symbolic link")
                                     : QStringLiteral(": ") + errnoText());
            ::close(fd);
            return false;
        }
        ::close(fd);
        fd = next;
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            *why = current + QStringLiteral(": ") + errnoText();
            ::close(fd);
            return false;
        }
        if (st.st_uid != ::geteuid()) {
            *why = current + QStringLiteral(" belongs to uid %1").arg(st.st_uid);
            ::close(fd);
            return false;
        }
        if ((st.st_mode & forbidden) && ::fchmod(fd, st.st_mode & 07777 & ~forbidden) != 0) {
            *why = current + QStringLiteral(": ") + errnoText();
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

QString ZQPrivateDir::runtimeDir()
{
    const QString dir = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (!dir.startsWith(QLatin1Char('/')))
        return QString();
    struct stat st;
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0 || !S_ISDIR(st.st_mode)
        || st.st_uid != ::geteuid() || (st.st_mode & 077))
        return QString();
    return dir;
}
