#include "zqipclogging.h"

Q_LOGGING_CATEGORY(lcZqIpc, "vela.ipc", QtInfoMsg)
