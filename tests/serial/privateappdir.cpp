#include "privateappdir.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>
#include <sys/prctl.h>

namespace {
const char MarkerVariable[] = "VELA_SERIAL_PRIVATE_COPY";
}

int PrivateAppDir::run(int argc, char **argv, const std::function<int(int, char **)> &testMain)
{
    if (qEnvironmentVariableIsSet(MarkerVariable)) {
        // Go down with the launcher if CTest stops it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        return testMain(argc, argv);
    }
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/vela-serial-XXXXXX"));
    if (!dir.isValid())
        return 90;
    const QString copy = dir.filePath(QFileInfo(self).fileName());
    if (!QFile::copy(self, copy))
        return 91;
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.setInputChannelMode(QProcess::ForwardedInputChannel);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(MarkerVariable), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(copy, args);
    if (!child.waitForStarted(-1))
        return 92;
    child.waitForFinished(-1);
    if (child.exitStatus() != QProcess::NormalExit)
        return 93;
    return child.exitCode();
}
