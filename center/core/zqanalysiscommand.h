#ifndef ZQANALYSISCOMMAND_H
#define ZQANALYSISCOMMAND_H

#include <QByteArray>
#include <QDomElement>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>

#include "zqtableentry.h"
#include "zqtablenote.h"

class DvScreen;

// Turns board frames into bus messages by the "analysis" entries of a command
// table. Filled once while the owning module starts, read-only afterwards, so
// it needs no lock.
class ZQAnalysisCommand : public QObject
{
    Q_OBJECT
public:
    struct fixedCommand {
        int len = 0;
        QString eventName;
        int line = 0; // of the table entry
    };
    struct oneEnumCommand {
        int len = 0;
        int position = 0;
        QString eventName;
        QString typeName;
        QMap<char, int> values;
        int line = 0; // of the table entry
    };
    struct oneValueCommand {
        int len = 0;
        QString typeName;
        QString eventName;
        int line = 0; // of the table entry
    };
    struct twoValueCommand {
        int len = 0;
        int position = 0;
        QString eventName;
        int line = 0; // of the table entry
    };
    struct NEnumCommand {
        int len = 0;
        QString eventName;
        QMap<int, QString> positionTypes;
        QMap<QString, QMap<char, int>> typeValues;
        int line = 0; // of the table entry
    };
    struct oneStringCommand {
        int len = 0;
        QString eventName;
        int line = 0; // of the table entry
    };
    struct oneStringEnumCommand {
        int len = 0;
        int position = 0;
        QString eventName;
        QMap<char, QString> values;
        int line = 0; // of the table entry
    };

    ZQAnalysisCommand(DvScreen* screen, QObject* parent);

    // Stores one "analysis" entry under its kind; malformed entries are skipped.
    void ReadXmlElement(QDomElement element);
    // Whether key names a command the key search may claim (every kind but "NEnum").
    bool findSpacialCmd(QByteArray key) const;
    // The bus message for frame, matched under key; empty when nothing matches.
    QJsonObject analysis(QByteArray key, QByteArray frame) const;

    // Key bytes of a table entry: one byte per element child of its first child
    // node, which must be an element. Shared with the fitting side. With
    // `notes`, every key byte that is not hexadecimal is noted.
    static QByteArray readKey(const QDomElement& entry, ZQTableNotes* notes = nullptr);
    // A hexadecimal attribute as one byte (lowest 8 bits; 0 when not hexadecimal).
    static char hexByte(const QString& text, bool* ok = nullptr);
    // A decimal attribute; 0 when missing or not a number.
    static int decimal(const QString& text, bool* ok = nullptr);

    // Notes of the loader go to `notes` from now on (see ZQTableNote); null
    // (the default) makes none.
    void setNotes(ZQTableNotes* notes);
    static void note(ZQTableNotes* notes, const QDomElement& entry, const QString& text);
    static void note(ZQTableNotes* notes, int line, const QString& eventName, const QString& text);
    // The loaded entries, in the order analysis looks the kinds up.
    QList<ZQTableEntry> entries() const;

private:
    QJsonObject analyse(const QByteArray& key, const QByteArray& frame) const;

    QMap<QByteArray, fixedCommand> m_fixed;
    QMap<QByteArray, oneEnumCommand> m_oneEnum;
    QMap<QByteArray, oneStringEnumCommand> m_oneStringEnum;
    QMap<QByteArray, oneValueCommand> m_oneValue;
    QMap<QByteArray, NEnumCommand> m_NEnum;
    QMap<QByteArray, oneStringCommand> m_oneString;
    QMap<QByteArray, twoValueCommand> m_twoValue;
    DvScreen* m_screen;
    ZQTableNotes* m_notes = nullptr;
};

#endif // ZQANALYSISCOMMAND_H
