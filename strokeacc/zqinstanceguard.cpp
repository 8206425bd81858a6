#include "zqinstanceguard.h"

#include <singleapplication.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int keep(const QString &id, int answerFd, int lifeFd)
{
    int argc = 1;
    char name[] = "VelaStrokeAccelerate";
    char *argv[] = {name, nullptr};
    QCoreApplication::setApplicationName(id);
    // allowSecondary: the keeper reports a running copy itself instead of the
    // library ending the process.
    SingleApplication guard(argc, argv, true, SingleApplication::User);
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
