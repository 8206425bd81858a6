#ifndef SHAREDKITLOGGING_H
#define SHAREDKITLOGGING_H

#include <QLoggingCategory>

// Traces of the shared kit: debug lines off by default, warnings on.
Q_DECLARE_LOGGING_CATEGORY(lcSharedKit)

#endif // SHAREDKITLOGGING_H
