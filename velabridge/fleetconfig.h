#ifndef FLEETCONFIG_H
#define FLEETCONFIG_H

#include "fleetcommandpolicy.h"

#include <QString>
#include <QStringList>

// The [Fleet] group of version.ini: where the broker is, how the bridge
// proves who it is, the panel's name in the topics, and what may cross in
// each direction.
class FleetConfig
{
public:
    // Nothing configured: the bridge has nothing to do.
    bool configured = false;

    QString host;
    int port = 0;
    bool tls = true;
    QString caFile;   // broker's CA; empty: the system's certificates
    QString certFile; // client certificate and its private key
    QString keyFile;
    QString user;     // from the password file
    QString password;
    QString panel;
    QString clientId;
    QStringList events;  // bus events sent to the broker
    QStringList sources; // bus programs whose publishes the bridge hears
    FleetCommandPolicy commands;
    int queueLimit = 1000;
    int keepAliveS = 30;
    int infoIntervalS = 60;

    static QStringList defaultEvents();
    // The bus event that tells the link's state (see docs/fleet.md).
    static const char *const kLinkEvent;

    // Reads the group from `iniPath`. False with `error` set when the group
    // is there but cannot be used safely; the bridge must not start then.
    // Entries of the command list that cannot be used are left out and
    // listed in `warnings`.
    static bool load(const QString &iniPath, FleetConfig *config, QString *error, QStringList *warnings,
                     const QString &machineIdFile = QStringLiteral("/etc/machine-id"));

    // True when only the file's owner (who must be this user) can read or
    // change it; otherwise false with the reason.
    static bool isPrivateFile(const QString &path, QString *why);
};

#endif // FLEETCONFIG_H
