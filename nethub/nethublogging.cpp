#include "nethublogging.h"

Q_LOGGING_CATEGORY(lcNetHub, "vela.nethub", QtInfoMsg)
