#ifndef CENTRETABLES_H
#define CENTRETABLES_H

#include "zqtablenote.h"

#include <QList>
#include <QObject>
#include <QString>

class IZQBusiness;
class ZQBusinessManager;
class ZQTbusiness;
struct ZQTableEntry;

// The control centre's business modules, in their order, with the command
// tables read from a folder of choice instead of the program's own. The
// modules, the loader and the engines are the centre's; only where the files
// come from differs. The loader's notes are kept per table.
class CentreTables : public QObject
{
    Q_OBJECT
public:
    struct Table
    {
        ZQTbusiness *module = nullptr;
        QString file;   // as the module names it, e.g. "DiscCommand.xml"
        QString path;   // in the folder given
        bool present = false;
        QString error;  // why the file is not a usable table; empty when it is
        int errorLine = 0;
        ZQTableNotes notes;
    };

    explicit CentreTables(const QString &folder, QObject *parent = nullptr);
    ~CentreTables() override;

    ZQBusinessManager *manager() const { return m_manager; }
    const QList<Table> &tables() const { return m_tables; }
    // The table a module reads; null for the modules written in code.
    const Table *tableOf(const IZQBusiness *module) const;
    // 1-based place in the module order; 0 for none.
    int place(const IZQBusiness *module) const;
    // "ZQTbusinessDisc (module 1, DiscCommand.xml)" and the like.
    QString describe(const IZQBusiness *module) const;
    // The analysis entry that decodes frames of `key` in `table`: the first
    // kind that holds the key; null when none does.
    static const ZQTableEntry *decidingEntry(const QList<ZQTableEntry> &entries, const QByteArray &key);
    static const ZQTableEntry *fitEntry(const QList<ZQTableEntry> &entries, const QString &event);

private:
    ZQBusinessManager *m_manager;
    QList<Table> m_tables;
};

#endif // CENTRETABLES_H
