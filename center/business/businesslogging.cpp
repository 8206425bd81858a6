#include "businesslogging.h"

Q_LOGGING_CATEGORY(lcShortcut, "vela.business.shortcut", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDisc, "vela.business.disc", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCentralControl, "vela.business.centralcontrol", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPretreatment, "vela.business.pretreatment", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCustomChannel, "vela.business.customchannel", QtInfoMsg)
Q_LOGGING_CATEGORY(lcWriteAcceleration, "vela.business.writeacceleration", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSmsc, "vela.business.smsc", QtInfoMsg)
