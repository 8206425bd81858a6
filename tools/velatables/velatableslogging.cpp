#include "velatableslogging.h"

Q_LOGGING_CATEGORY(lcVelaTables, "vela.velatables", QtInfoMsg)
