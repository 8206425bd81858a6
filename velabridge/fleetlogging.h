#ifndef FLEETLOGGING_H
#define FLEETLOGGING_H

#include <QLoggingCategory>

// The fleet bridge's lines ("vela.fleet"). Debug lines (every event and
// command) are off unless "vela.fleet.debug=true"; warnings stay on.
Q_DECLARE_LOGGING_CATEGORY(lcFleet)

#endif // FLEETLOGGING_H
