#ifndef RESHANDLERLOGGING_H
#define RESHANDLERLOGGING_H

#include <QLoggingCategory>

// Traces of the resource plug-in (a transfer plug-in it could not load, and
// why): debug lines off by default ("vela.reshandler.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcResHandler)

#endif // RESHANDLERLOGGING_H
