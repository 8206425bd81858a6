#include "zqinstanceguard.h"

#include "strokeacclogging.h"

#include <singleapplication.h>

#include <QDebug>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A folder nobody but this user (or root, for a parent) can add to or remove
// from. The parent may be reached through a link (a home folder can be); the
// folder itself must be a real one.
bool ownedAndClosed(const QByteArray &path, bool parent)
{
    struct stat st;
    if ((parent ? ::stat(path.constData(), &st) : ::lstat(path.constData(), &st)) != 0 || !S_ISDIR(st.st_mode))
        return false;
    const bool owner = st.st_uid == ::geteuid() || (parent && st.st_uid == 0);
    return owner && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QByteArray usable(const QByteArray &parent, const QByteArray &name)
{
    // Nobody else may rename the folder out of its parent either.
    if (!parent.startsWith('/') || !ownedAndClosed(parent, true))
        return QByteArray();
    const QByteArray folder = parent + '/' + name;
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return QByteArray();
    return ownedAndClosed(folder, false) ? folder : QByteArray();
}

int keep(const QString &id, int answerFd, int lifeFd)
{
    const QByteArray folder = ZQInstanceGuard::privateFolder();
    if (folder.isEmpty()) {
        qCWarning(lcStrokeAcc).noquote() << "[velastrokeaccelerate]"
                                         << "no private folder for the single-instance guard; not checking for another copy";
        return 1;
    }
    // Only the keeper's temporary folder changes, not the agent's.
    ::setenv("TMPDIR", folder.constData(), 1);
    int argc = 1;
    char name[] = "VelaStrokeAccelerate";
    char *argv[] = {name, nullptr};
    QCoreApplication::setApplicationName(id);
    // allowSecondary: the keeper reports a running copy itself instead of the
    // library ending the process. The user's name is in the key, the
    // program's path and version are not: one agent per user, from any folder.
    SingleApplication guard(argc, argv, true,
                            SingleApplication::User | SingleApplication::ExcludeAppPath
                                | SingleApplication::ExcludeAppVersion);
    const char answer = guard.isPrimary() ? 'P' : 'S';
    while (::write(answerFd, &answer, 1) < 0 && errno == EINTR) {
    }
    ::close(answerFd);
    if (guard.isPrimary()) {
        char byte;
        while (::read(lifeFd, &byte, 1) < 0 && errno == EINTR) {
        }
    }
    return 0;
}

} // namespace

QByteArray ZQInstanceGuard::privateFolder()
{
    // Never a shared folder such as /tmp: whatever another account does there
    // (taking the name first, removing it later) could make two copies pick
    // two different folders.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return usable(runtime, "vela");
    QByteArray home = qgetenv("HOME");
    if (home.isEmpty()) {
        const struct passwd *pw = ::getpwuid(::geteuid());
        home = pw ? QByteArray(pw->pw_dir) : QByteArray();
    }
    return usable(home, ".cache").isEmpty() ? QByteArray() : usable(home + "/.cache", "vela");
}

bool ZQInstanceGuard::acquire(const QString &id)
{
    int answer[2], life[2];
    if (::pipe2(answer, O_CLOEXEC) < 0)
        return true;
    if (::pipe2(life, O_CLOEXEC) < 0) {
        ::close(answer[0]);
        ::close(answer[1]);
        return true;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        for (int fd : {answer[0], answer[1], life[0], life[1]})
            ::close(fd);
        return true;
    }
    if (pid == 0) {
        ::close(answer[0]);
        ::close(life[1]);
        ::_exit(keep(id, answer[1], life[0]));
    }
    ::close(answer[1]);
    ::close(life[0]);
    char reply = 0;
    ssize_t n;
    while ((n = ::read(answer[0], &reply, 1)) < 0 && errno == EINTR) {
    }
    ::close(answer[0]);
    if (n == 1 && reply == 'S') {
        ::close(life[1]);
        ::waitpid(pid, nullptr, 0);
        return false;
    }
    // life[1] stays open until this process ends; close-on-exec keeps it out
    // of programs the agent might start.
    return true;
}
