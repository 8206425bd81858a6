#ifndef STROKEACCLOGGING_H
#define STROKEACCLOGGING_H

#include <QLoggingCategory>

// The stroke-acceleration agent's traces (every request and answer) are
// debug lines, off unless "vela.strokeacc.debug=true"; warnings stay on.
Q_DECLARE_LOGGING_CATEGORY(lcStrokeAcc)

#endif // STROKEACCLOGGING_H
