#ifndef TABLETRACE_H
#define TABLETRACE_H

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class CentreTables;
class IZQBusiness;

// A board frame or a bus message through the centre's modules, as the
// centre's work threads pass them: the first module in the order that claims
// it handles it, with its own code and its tables, and what it sends is
// caught at the module manager's signals, where the centre's dispatch hub
// takes it. What nobody claims passes through as "EVENT_ANY".
class TableTrace : public QObject
{
    Q_OBJECT
public:
    // Where a result came from in a table.
    struct Source
    {
        QString table; // file name; empty when no entry gave it
        int line = 0;
        QString event;
        QString kind;
        int len = 0; // analysis entries: the frame length they match
    };

    struct Decoded
    {
        QByteArray frame;
        QString module;      // empty: no module claims it (pass-through)
        bool tableModule = false; // a module with a table (else written in code, not run here)
        QByteArray key;
        bool inCode = false; // decoded by code of the module, not by a table entry
        Source source;
        QJsonObject tableResult; // what the entry's analysis gives
        QStringList bus;         // texts the centre publishes, as it writes them
        QStringList local;       // the centre's own operations on the PC
        QList<QByteArray> board; // frames back to the board
    };

    struct Encoded
    {
        QJsonObject message;
        QString module;      // empty: no module claims it
        bool tableModule = false;
        bool passThrough = false;
        bool inCode = false;
        QList<Source> sources;   // per frame
        QList<QByteArray> frames;
        QList<QList<QByteArray>> parts; // per frame: its link-version-2 part frames (empty: sent whole)
        QStringList bus;
        QStringList local;
    };

    explicit TableTrace(CentreTables *tables, QObject *parent = nullptr);

    Decoded decode(const QByteArray &frame);
    Encoded encode(const QString &message);

    // A frame as given (7F ... CF with a length byte that fits), or the frame
    // the PC would build around command bytes. Empty for no bytes.
    static QByteArray frameOf(const QByteArray &bytes);

private:
    void clearCatch();

    CentreTables *m_tables;
    int m_splitSerial = 0;
    QStringList m_bus;
    QStringList m_local;
    QList<QByteArray> m_board;
};

#endif // TABLETRACE_H
