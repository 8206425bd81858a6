#ifndef CENTERLOGGING_H
#define CENTERLOGGING_H

#include <QLoggingCategory>

// velacenter's own code above the modules: start-up, the business manager
// and the single-instance guard log to "vela.core"; the dispatch hub with
// its work threads and queues (one line per frame and bus message) to
// "vela.dispatch". Debug lines off by default, warnings on.
Q_DECLARE_LOGGING_CATEGORY(lcCore)
Q_DECLARE_LOGGING_CATEGORY(lcDispatch)

#endif // CENTERLOGGING_H
