#include "fleetlogging.h"

Q_LOGGING_CATEGORY(lcFleet, "vela.fleet", QtInfoMsg)
