#include "serialtestlogging.h"

Q_LOGGING_CATEGORY(lcSerialTest, "vela.serialtest", QtInfoMsg)
