#include "tablecheck.h"

#include "centretables.h"
#include "izqbusiness.h"
#include "zqanalysiscommand.h"
#include "zqboardframe.h"
#include "zqbusinessmanager.h"
#include "zqfitcommand.h"
#include "zqframescan.h"
#include "zqtableentry.h"
#include "zqtbusiness.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>

namespace {

const QString kNEnum = QStringLiteral("NEnum");

// A frame of `len` bytes with the entry's key and zero values; a text entry
// gets one letter of text.
QByteArray probeFrame(const ZQTableEntry &entry, int len)
{
    QByteArray frame = ZQBoardFrame::buildUnchecked(entry.key + QByteArray(len - 9 - entry.key.size(), '\0'));
    if (entry.kind == QLatin1String("oneString") && len > 9 + entry.key.size())
        frame[8 + entry.key.size()] = 'A';
    return frame;
}

// A message for a fit entry, with a value the entry lists.
QJsonObject probeMessage(const ZQTableEntry &entry)
{
    QJsonObject message;
    message.insert(QStringLiteral("eventid"), entry.eventName);
    message.insert(QStringLiteral("from"), QStringLiteral("ID_APP_VELATABLES"));
    message.insert(QStringLiteral("to"), QStringLiteral("ID_APP_VELACENTER"));
    QJsonObject value;
    if (entry.kind == QLatin1String("oneValue"))
        value.insert(QStringLiteral("value"), 1);
    else if (entry.kind == QLatin1String("oneEnum") && !entry.values.isEmpty())
        value.insert(QStringLiteral("value"), entry.values.first().toInt());
    else if (entry.kind == QLatin1String("oneStringEnum") && !entry.values.isEmpty())
        value.insert(QStringLiteral("value"), entry.values.first());
    message.insert(QStringLiteral("param"), value.isEmpty() ? QJsonArray() : QJsonArray{value});
    return message;
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

TableCheck::TableCheck(CentreTables *tables)
    : m_tables(tables)
{
}

QString TableCheck::severityWord(Severity severity)
{
    switch (severity) {
    case Error: return QStringLiteral("error");
    case Warning: return QStringLiteral("warning");
    case Note: return QStringLiteral("note");
    }
    return QString();
}

void TableCheck::add(int table, int line, Severity severity, const QString &event, const QString &text)
{
    Finding f;
    f.table = table;
    f.file = m_tables->tables().at(table).file;
    f.line = line;
    f.severity = severity;
    f.event = event;
    f.text = text;
    m_findings.append(f);
}

QList<TableCheck::Finding> TableCheck::run()
{
    m_findings.clear();
    // The modules' own warnings on the probes are not findings.
    const QtMessageHandler previous = qInstallMessageHandler(quiet);
    const QList<CentreTables::Table> &tables = m_tables->tables();
    for (int i = 0; i < tables.size(); ++i) {
        const CentreTables::Table &table = tables.at(i);
        if (!table.present) {
            add(i, 0, Warning, QString(), QStringLiteral("not there: its module claims nothing"));
            continue;
        }
        if (!table.error.isEmpty()) {
            add(i, table.errorLine, Error, QString(),
                QStringLiteral("not a usable table (%1): its module claims nothing").arg(table.error));
            continue;
        }
        for (const ZQTableNote &note : table.notes)
            add(i, note.line, Error, note.eventName, note.text);
        const QList<ZQTableEntry> analysis = table.module->analysisEngine()->entries();
        for (const ZQTableEntry &entry : analysis)
            checkAnalysis(i, entry, analysis);
        const QList<ZQTableEntry> fit = table.module->fitEngine()->entries();
        for (const ZQTableEntry &entry : fit)
            checkFit(i, entry, fit);
    }
    qInstallMessageHandler(previous);
    std::stable_sort(m_findings.begin(), m_findings.end(), [](const Finding &a, const Finding &b) {
        return a.table != b.table ? a.table < b.table : a.line < b.line;
    });
    return m_findings;
}

QString TableCheck::winner(int table, const QByteArray &frame) const
{
    QByteArray key;
    IZQBusiness *module = m_tables->manager()->commandModule(frame, key);
    QString text = m_tables->describe(module);
    const CentreTables::Table *own = m_tables->tableOf(module);
    const ZQTableEntry *entry = nullptr;
    QList<ZQTableEntry> entries;
    if (own) {
        entries = own->module->analysisEngine()->entries();
        entry = CentreTables::decidingEntry(entries, key);
    }
    if (entry && own != &m_tables->tables().at(table))
        text += QStringLiteral(" with key %1 (%2:%3, %4)").arg(ZQFrameScan::toHex(key, ' '), own->file).arg(entry->line).arg(entry->eventName);
    else if (!own)
        text += QStringLiteral(", which decodes key %1 in code").arg(ZQFrameScan::toHex(key, ' '));
    return text;
}

void TableCheck::checkAnalysis(int table, const ZQTableEntry &entry, const QList<ZQTableEntry> &all)
{
    const CentreTables::Table &own = m_tables->tables().at(table);
    const int first = ZQBoardFrame::CommandOffset + entry.key.size(); // first value byte
    const bool text = entry.kind == QLatin1String("oneString");
    int len = entry.len;
    if (text) {
        len = qMax(len, first + 2); // matched at any length
    } else if (len < first + 1) {
        add(table, entry.line, Error, entry.eventName,
            QStringLiteral("len %1 leaves no room for the header, the key (%2 bytes) and the end byte; no frame matches")
                .arg(entry.len).arg(entry.key.size()));
        return;
    } else if (len > ZQFrameScan::MaxFrameSize) {
        add(table, entry.line, Warning, entry.eventName,
            QStringLiteral("len %1 is more than the %2 bytes of one frame; only a joined multi-frame message "
                           "(link version 2) matches")
                .arg(len).arg(ZQFrameScan::MaxFrameSize));
    }
    // Value bytes lie between the key and the end byte; a two-value entry
    // reads its position and the next.
    const bool two = entry.kind == QLatin1String("twoValue");
    const int last = len - (two ? 3 : 2);
    bool positionsOk = true;
    for (int i = 0; i < entry.positions.size() && (!two || i == 0); ++i) {
        const int p = entry.positions.at(i);
        if (p < first || p > last) {
            positionsOk = false;
            add(table, entry.line, Error, entry.eventName,
                last < first ? QStringLiteral("frames of len %1 hold no value byte after the key; it gives no message")
                                   .arg(len)
                             : QStringLiteral("position %1 lies outside the value bytes of its frames (%2 to %3 for "
                                              "len %4); it gives no message or reads the wrong byte")
                                   .arg(p).arg(first).arg(last).arg(len));
        }
    }

    const QByteArray frame = probeFrame(entry, len);
    QByteArray key;
    IZQBusiness *claimer = m_tables->manager()->commandModule(frame, key);
    const IZQBusiness *module = nullptr;
    for (IZQBusiness *m : m_tables->manager()->modules())
        if (m->getObject() == own.module)
            module = m;
    if (claimer != module) {
        if (entry.kind == kNEnum && (!claimer || m_tables->place(claimer) > m_tables->place(module)))
            add(table, entry.line, Error, entry.eventName,
                QStringLiteral("the key search passes over NEnum entries: without an entry of another kind with the "
                               "same key %1 (a oneString partner) no frame reaches this one").arg(ZQFrameScan::toHex(entry.key, ' ')));
        else
            add(table, entry.line, Error, entry.eventName,
                QStringLiteral("frames with key %1 are claimed first by %2; this entry is never used")
                    .arg(ZQFrameScan::toHex(entry.key, ' '), winner(table, frame)));
        return;
    }
    if (key != entry.key) {
        const ZQTableEntry *shorter = CentreTables::decidingEntry(all, key);
        add(table, entry.line, Error, entry.eventName,
            QStringLiteral("the shorter key %1 (line %2, %3) claims frames with key %4 first (the shortest known "
                           "prefix wins); this entry is never used")
                .arg(ZQFrameScan::toHex(key, ' ')).arg(shorter ? shorter->line : 0).arg(shorter ? shorter->eventName : QString())
                .arg(ZQFrameScan::toHex(entry.key, ' ')));
        return;
    }
    const ZQTableEntry *decider = CentreTables::decidingEntry(all, entry.key);
    if (decider && (decider->kind != entry.kind || decider->line != entry.line)) {
        if (decider->kind == kNEnum) {
            // This entry makes the key searchable for the N-enumeration.
            if (decider->eventName != entry.eventName)
                add(table, entry.line, Warning, entry.eventName,
                    QStringLiteral("only makes key %1 searchable: the NEnum entry of line %2 (%3) decodes its frames")
                        .arg(ZQFrameScan::toHex(entry.key, ' ')).arg(decider->line).arg(decider->eventName));
            return;
        }
        add(table, entry.line, Error, entry.eventName,
            QStringLiteral("the %1 entry of line %2 (%3) has the same key %4 and, looked up first, decodes its frames; "
                           "this entry is never used")
                .arg(decider->kind).arg(decider->line).arg(decider->eventName).arg(ZQFrameScan::toHex(entry.key, ' ')));
        return;
    }
    if (!positionsOk)
        return;
    const QJsonObject result = own.module->analysisEngine()->analysis(entry.key, frame);
    const QJsonObject dealt = claimer->DealCommand(frame, key);
    if (result != dealt)
        add(table, entry.line, Error, entry.eventName,
            QStringLiteral("%1 decodes key %2 in code; this entry is never used")
                .arg(m_tables->describe(claimer), ZQFrameScan::toHex(entry.key, ' ')));
}

void TableCheck::checkFit(int table, const ZQTableEntry &entry, const QList<ZQTableEntry> &all)
{
    const CentreTables::Table &own = m_tables->tables().at(table);
    const bool enumeration = entry.kind == QLatin1String("oneEnum") || entry.kind == QLatin1String("oneStringEnum");
    const int first = ZQBoardFrame::CommandOffset + entry.key.size();
    if (enumeration) {
        // fit() places a value only in a run of positions from right after the key.
        QStringList gaps;
        for (int i = 0; i < entry.positions.size(); ++i)
            if (entry.positions.at(i) != first + i)
                gaps << QString::number(entry.positions.at(i));
        if (!gaps.isEmpty())
            add(table, entry.line, Error, entry.eventName,
                QStringLiteral("values at position %1 are never sent: fitted positions must run from %2 (right after "
                               "the key) without a gap")
                    .arg(gaps.join(QStringLiteral(", "))).arg(first));
    }
    const int command = entry.key.size() + (enumeration ? entry.positions.size() : entry.kind == QLatin1String("oneValue") ? 1 : 0);
    if (command > ZQBoardFrame::MaxCommandLength) {
        add(table, entry.line, Error, entry.eventName,
            QStringLiteral("its command of %1 bytes is too long for one frame's length byte; no frame is ever built")
                .arg(command));
        return;
    }
    if (command + 9 > ZQFrameScan::MaxFrameSize)
        add(table, entry.line, Warning, entry.eventName,
            QStringLiteral("its frames of %1 bytes are longer than the %2 bytes the board takes")
                .arg(command + 9).arg(ZQFrameScan::MaxFrameSize));

    const QString text = IZQBusiness::jsonToMessageText(probeMessage(entry));
    QJsonObject claimed;
    IZQBusiness *claimer = m_tables->manager()->messageModule(text, claimed);
    if (!claimer || claimer->getObject() != own.module) {
        add(table, entry.line, Error, entry.eventName,
            QStringLiteral("messages %1 are claimed first by %2; this entry is never used")
                .arg(entry.eventName, m_tables->describe(claimer)));
        return;
    }
    const ZQTableEntry *decider = CentreTables::fitEntry(all, entry.eventName);
    if (decider && (decider->kind != entry.kind || decider->line != entry.line)) {
        add(table, entry.line, Error, entry.eventName,
            QStringLiteral("the %1 fit entry of line %2 has the same event and, looked up first, builds its frames; "
                           "this entry is never used")
                .arg(decider->kind).arg(decider->line));
        return;
    }
    if (claimer->DealMessage(claimed) != own.module->fitEngine()->fit(claimed))
        add(table, entry.line, Note, entry.eventName,
            QStringLiteral("%1 builds the frame for %2 in code; this entry gives only its key %3")
                .arg(m_tables->describe(claimer), entry.eventName, ZQFrameScan::toHex(entry.key, ' ')));
}
