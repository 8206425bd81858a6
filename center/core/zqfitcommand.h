#ifndef ZQFITCOMMAND_H
#define ZQFITCOMMAND_H

#include <QByteArray>
#include <QDomElement>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>

#include "zqtableentry.h"
#include "zqtablenote.h"

class DvScreen;

// Turns bus messages into board frames by the "fit" entries of a command table.
// Filled once while the owning module starts, read-only afterwards.
class ZQFitCommand : public QObject
{
    Q_OBJECT
public:
    struct oneEnumCommand {
        QByteArray key;
        QMap<int, int> positions; // message value -> frame position
        QMap<int, char> bytes;    // message value -> frame byte
        int line = 0;             // of the table entry
    };
    struct oneStringEnumCommand {
        QByteArray key;
        QMap<QString, int> positions;
        QMap<QString, char> bytes;
        int line = 0;
    };
    // "fixed" and "oneValue" entries: the key alone.
    struct keyCommand {
        QByteArray key;
        int line = 0;
    };

    ZQFitCommand(DvScreen* screen, QObject* parent);

    // Stores one "fit" entry under its kind; malformed entries are skipped.
    void ReadXmlElement(QDomElement element);
    bool isCanFit(QJsonObject message) const;
    // The finished board frame, or empty when no table knows the event.
    QByteArray fit(QJsonObject message) const;
    // Command key of the event in the one-enumeration, fixed or one-value table.
    QByteArray getSpacialCmd(QString eventName) const;

    // Notes of the loader go to `notes` from now on (see ZQTableNote); null
    // (the default) makes none.
    void setNotes(ZQTableNotes* notes);
    // The loaded entries, in the order fit() looks the kinds up.
    QList<ZQTableEntry> entries() const;

private:
    QByteArray fitCommand(const QJsonObject& message) const;

    QMap<QString, oneEnumCommand> m_oneEnum;
    QMap<QString, oneStringEnumCommand> m_oneStringEnum;
    QMap<QString, keyCommand> m_fixed;
    QMap<QString, keyCommand> m_oneValue;
    DvScreen* m_screen;
    ZQTableNotes* m_notes = nullptr;
};

#endif // ZQFITCOMMAND_H
