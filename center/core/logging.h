#ifndef LOGGING_H
#define LOGGING_H

#include <QString>
#include <QtGlobal>

// File logger of velacenter: one file per level word, opened, appended and
// closed for every record under one process-wide mutex. Each file holds at
// most kMaxFileBytes; the one before it is kept as "<level>.txt.1".
class Logging
{
public:
    static constexpr qint64 kMaxFileBytes = 8 * 1024 * 1024;

    // Writes one message when the "Log/Level" key of configPath lets it through.
    static void output(const QString &appName, const QString &configPath, QtMsgType type,
                       const QMessageLogContext &context, const QString &message);

    // Empties the directory the logger writes to, so logs of earlier runs do
    // not pile up.
    static void clearLogs(const QString &appName);

    // The usual folder for the records of appName: /tmp/Tavolix/<appName>/Log
    // (the part after "/tmp" follows the temporary-files location).
    static QString logDir(const QString &appName);
    // The folder they go to: logDir(), unless a part of it is a symbolic
    // link or belongs to another user. Then nothing there is cleared or
    // written; the records go to a folder of this user alone
    // ("/tmp/Tavolix-<uid>/<appName>/Log", or below $XDG_RUNTIME_DIR, or a
    // new "/tmp/Tavolix-<uid>-XXXXXX"), and standard error says so once.
    // Made when missing (mode 0700).
    static QString writeDir(const QString &appName);

    // Level word (file name stem) and line prefix of a message type; both
    // empty for a type outside the table.
    static QString levelWord(QtMsgType type);
    static QString linePrefix(QtMsgType type);

    // One whole record, terminator included.
    static QString formatRecord(QtMsgType type, const QMessageLogContext &context,
                                const QString &message);

    // Filter rules of the logging categories for a "Log/Level" word: "debug"
    // and "all" turn on the debug lines of every "vela.*" category, any other
    // word leaves the categories' own defaults (debug off, info and warnings
    // on). Rules in QT_LOGGING_RULES are applied after these, so they win.
    static QString categoryRules(const QString &level);

    // Reads "Log/Level" of configPath (again only once the file changed) and
    // sets the filter rules above when they differ from those set last.
    // Called from the main thread.
    static void followLevel(const QString &configPath);
};

// "Log/NeedLog" of the version.ini beside the program; 0 when missing or not a number.
int getLogFlag();

// Qt message handler that sends diagnostics to the log files only.
void logOutput(QtMsgType type, const QMessageLogContext &context, const QString &message);

// Logging::followLevel for the version.ini beside the program.
void followLogLevel();

#endif // LOGGING_H
