#include "centerlogging.h"

Q_LOGGING_CATEGORY(lcCore, "vela.core", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDispatch, "vela.dispatch", QtInfoMsg)
