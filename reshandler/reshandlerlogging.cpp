#include "reshandlerlogging.h"

Q_LOGGING_CATEGORY(lcResHandler, "vela.reshandler", QtInfoMsg)
