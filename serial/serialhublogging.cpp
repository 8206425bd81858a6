#include "serialhublogging.h"

Q_LOGGING_CATEGORY(lcSerial, "vela.serial", QtInfoMsg)
