#ifndef SERIALHUBLOGGING_H
#define SERIALHUBLOGGING_H

#include <QLoggingCategory>

// The serial link's traces (port checks, handshake, every frame read) are
// debug lines of "vela.serial", off unless a filter rule turns them on
// (QT_LOGGING_RULES="vela.serial.debug=true"); warnings stay on.
Q_DECLARE_LOGGING_CATEGORY(lcSerial)

#endif // SERIALHUBLOGGING_H
