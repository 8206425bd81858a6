#include "strokeacclogging.h"

Q_LOGGING_CATEGORY(lcStrokeAcc, "vela.strokeacc", QtInfoMsg)
