#ifndef SERIALTESTLOGGING_H
#define SERIALTESTLOGGING_H

#include <QLoggingCategory>

// Traces of the serial bench tool: debug lines off by default, warnings on.
Q_DECLARE_LOGGING_CATEGORY(lcSerialTest)

#endif // SERIALTESTLOGGING_H
