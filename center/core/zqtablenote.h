#ifndef ZQTABLENOTE_H
#define ZQTABLENOTE_H

#include <QList>
#include <QString>

// A remark of the command-table loader about one entry: an entry it skips, or
// a part it reads otherwise than written (an attribute that is not a number,
// an item that an earlier one overrides, an entry that replaces an earlier
// one). The loader makes notes only when it is given a list (a tool that
// checks tables); the control centre loads without one.
struct ZQTableNote
{
    int line = 0; // of the entry's element; 0 when the parser kept no lines
    QString eventName;
    QString text;
};

using ZQTableNotes = QList<ZQTableNote>;

#endif // ZQTABLENOTE_H
