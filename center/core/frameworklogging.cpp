#include "frameworklogging.h"

Q_LOGGING_CATEGORY(lcTables, "vela.tables", QtInfoMsg)
