#ifndef DESKTOPLOGGING_H
#define DESKTOPLOGGING_H

#include <QLoggingCategory>

// The desktop side of the centre: window checks, keys, registry and toolbox
// log to "vela.desktop"; what the local operator carries out for messages
// to "vela.localoperator". Debug lines off by default, warnings on.
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)
Q_DECLARE_LOGGING_CATEGORY(lcLocalOperator)

#endif // DESKTOPLOGGING_H
