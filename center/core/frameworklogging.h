#ifndef FRAMEWORKLOGGING_H
#define FRAMEWORKLOGGING_H

#include <QLoggingCategory>

// The command tables and their engines (reading a table, every analysis and
// fit) log to "vela.tables"; debug lines off by default, warnings on.
Q_DECLARE_LOGGING_CATEGORY(lcTables)

#endif // FRAMEWORKLOGGING_H
