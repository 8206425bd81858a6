#ifndef ZQTABLEENTRY_H
#define ZQTABLEENTRY_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One entry as a command-table engine holds it after loading, for tools that
// check tables: its kind, key, event, the frame length it matches (analysis
// entries), the frame positions it reads or writes, and the line it came from.
struct ZQTableEntry
{
    QString kind;
    QByteArray key;
    QString eventName;
    int len = 0;
    QList<int> positions;
    QStringList values; // fit enumerations: the message values they list
    int line = 0;
};

#endif // ZQTABLEENTRY_H
