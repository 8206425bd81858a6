#ifndef ZQIPCLOGGING_H
#define ZQIPCLOGGING_H

#include <QLoggingCategory>

// Trace lines of the bus go to this category ("vela.ipc"), so a program that
// does not want one line per message can switch them off with a filter rule
// such as "vela.ipc.debug=false" without losing its own debug output.
Q_DECLARE_LOGGING_CATEGORY(lcZqIpc)

#endif // ZQIPCLOGGING_H
