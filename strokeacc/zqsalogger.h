#ifndef ZQSALOGGER_H
#define ZQSALOGGER_H

#include <QString>
#include <QtGlobal>

// The agent's file log: one line per message, appended to a file beside the
// program. The agent runs for months, so the file is bounded: once it reaches
// the size cap it becomes "<file>.1" (replacing the previous one) and a new
// file starts. At most two files of the cap each exist.
class ZQSALogger
{
public:
    static constexpr qint64 kDefaultMaxBytes = 1024 * 1024;

    // Routes all Qt output of the process to `path`.
    static void install(const QString &path, qint64 maxBytes = kDefaultMaxBytes);

    // One log line as written: time, level word, message, "\r\n".
    static QString formatLine(QtMsgType type, const QString &message);

    // Appends one message to `path`, rotating first when the file is full.
    static void append(const QString &path, qint64 maxBytes, QtMsgType type, const QString &message);
};

#endif // ZQSALOGGER_H
