#ifndef BUSINESSLOGGING_H
#define BUSINESSLOGGING_H

#include <QLoggingCategory>

// One category per business module, "vela.business.<module>", so the
// traces of one module can be turned on alone
// (QT_LOGGING_RULES="vela.business.shortcut.debug=true"). Debug lines are off
// by default, warnings on.
Q_DECLARE_LOGGING_CATEGORY(lcShortcut)
Q_DECLARE_LOGGING_CATEGORY(lcDisc)
Q_DECLARE_LOGGING_CATEGORY(lcCentralControl)
Q_DECLARE_LOGGING_CATEGORY(lcPretreatment)
Q_DECLARE_LOGGING_CATEGORY(lcCustomChannel)
Q_DECLARE_LOGGING_CATEGORY(lcWriteAcceleration)
Q_DECLARE_LOGGING_CATEGORY(lcSmsc)

#endif // BUSINESSLOGGING_H
