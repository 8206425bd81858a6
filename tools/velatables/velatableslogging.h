#ifndef VELATABLESLOGGING_H
#define VELATABLESLOGGING_H

#include <QLoggingCategory>

// The table tool's own diagnostics; its results go to standard output.
Q_DECLARE_LOGGING_CATEGORY(lcVelaTables)

#endif // VELATABLESLOGGING_H
