#ifndef TABLECHECK_H
#define TABLECHECK_H

#include <QList>
#include <QString>

class CentreTables;
struct ZQTableEntry;

// Finds what the centre would skip or mis-read in its command tables, with
// file and line: what the loader notes while reading (skipped entries,
// attributes read as 0, items and entries that others replace), and, by
// passing a frame (or message) made for each entry through the modules in
// their order, entries that never get their traffic: keys a shorter key or
// an earlier kind shadows, keys and events an earlier module claims, NEnum
// entries the key search never finds, positions outside the frame, fit
// entries that build no frame or never send some of their values.
class TableCheck
{
public:
    enum Severity { Error, Warning, Note };
    struct Finding
    {
        int table = 0; // index in the module order of the tables
        QString file;
        int line = 0;
        Severity severity = Error;
        QString event;
        QString text;
    };

    explicit TableCheck(CentreTables *tables);

    // All findings, by table (module order) and line.
    QList<Finding> run();
    static QString severityWord(Severity severity);

private:
    void add(int table, int line, Severity severity, const QString &event, const QString &text);
    void checkAnalysis(int table, const ZQTableEntry &entry, const QList<ZQTableEntry> &all);
    void checkFit(int table, const ZQTableEntry &entry, const QList<ZQTableEntry> &all);
    QString winner(int table, const QByteArray &frame) const;

    CentreTables *m_tables;
    QList<Finding> m_findings;
};

#endif // TABLECHECK_H
