#include "desktoplogging.h"

Q_LOGGING_CATEGORY(lcDesktop, "vela.desktop", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLocalOperator, "vela.localoperator", QtInfoMsg)
