#ifndef NETHUBLOGGING_H
#define NETHUBLOGGING_H

#include <QLoggingCategory>

// Traces of the network centre (a plug-in it could not load, and why):
// debug lines off by default ("vela.nethub.debug=true" turns them on).
Q_DECLARE_LOGGING_CATEGORY(lcNetHub)

#endif // NETHUBLOGGING_H
