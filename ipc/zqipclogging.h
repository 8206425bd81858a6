#ifndef ZQIPCLOGGING_H
#define ZQIPCLOGGING_H

#include <QLoggingCategory>

// Trace lines of the bus go to this category ("vela.ipc"). They are debug
// lines, off unless a filter rule such as "vela.ipc.debug=true" turns them
// on; its warnings stay on.
Q_DECLARE_LOGGING_CATEGORY(lcZqIpc)

#endif // ZQIPCLOGGING_H
