#include "tabletrace.h"

#include <QCoreApplication>

#include "centretables.h"
#include "izqbusiness.h"
#include "zqanalysiscommand.h"
#include "zqboardframe.h"
#include "zqframescan.h"
#include "zqbusinessmanager.h"
#include "zqfitcommand.h"
#include "zqtableentry.h"
#include "zqtbusiness.h"
#include "zqtbusinessdisc.h"
#include "zqtmsgdispatch.h"

namespace {

TableTrace::Source sourceOf(const CentreTables::Table &table, const ZQTableEntry *entry)
{
    TableTrace::Source source;
    if (entry) {
        source.table = table.file;
        source.line = entry->line;
        source.event = entry->eventName;
        source.kind = entry->kind;
        source.len = entry->len;
    }
    return source;
}

} // namespace

TableTrace::TableTrace(CentreTables *tables, QObject *parent)
    : QObject(parent)
    , m_tables(tables)
{
    // What a module sends on the caller's thread arrives here before its
    // call returns; decode() waits for what it sends from other threads.
    ZQBusinessManager *manager = tables->manager();
    connect(manager, &ZQBusinessManager::sigSendMessage, this, [this](const QString &text) { m_bus << text; });
    connect(manager, &ZQBusinessManager::sigSendLocal, this, [this](const QString &name) { m_local << name; });
    connect(manager, &ZQBusinessManager::sigSendCommand, this, [this](const QByteArray &frame) { m_board << frame; });
}

void TableTrace::clearCatch()
{
    m_bus.clear();
    m_local.clear();
    m_board.clear();
}

QByteArray TableTrace::frameOf(const QByteArray &bytes)
{
    if (bytes.size() >= ZQFrameScan::MinFrameSize && bytes.startsWith(ZQBoardFrame::StartByte) && bytes.endsWith(ZQBoardFrame::EndByte)
        && quint8(bytes.at(1)) == quint8(bytes.size() - 3))
        return bytes;
    return bytes.isEmpty() ? QByteArray() : ZQBoardFrame::buildUnchecked(bytes);
}

TableTrace::Decoded TableTrace::decode(const QByteArray &frame)
{
    Decoded d;
    d.frame = frame;
    ZQBusinessManager *manager = m_tables->manager();
    IZQBusiness *module = manager->commandModule(frame, d.key);
    clearCatch();
    if (!module) {
        d.bus << IZQBusiness::jsonToMessageText(ZQBusinessManager::passThroughMessage(frame));
        return d;
    }
    d.module = m_tables->describe(module);
    const CentreTables::Table *table = m_tables->tableOf(module);
    if (!table) {
        // Written in code: it may act on the PC or ask the board, which only
        // a running centre should do.
        d.inCode = true;
        return d;
    }
    d.tableModule = true;
    ZQAnalysisCommand *analysis = table->module->analysisEngine();
    const QList<ZQTableEntry> entries = analysis->entries();
    d.source = sourceOf(*table, CentreTables::decidingEntry(entries, d.key));
    d.tableResult = analysis->analysis(d.key, frame);
    const QJsonObject dealt = module->DealCommand(frame, d.key);
    d.inCode = dealt != d.tableResult;
    if (d.inCode)
        d.source = Source();
    module->Send(dealt);
    // The whiteboard module hands its events on from threads of its own, and
    // the manager relays them to this thread queued.
    if (auto *disc = qobject_cast<ZQTbusinessDisc *>(module->getObject()))
        disc->waitForHandedOn();
    QCoreApplication::sendPostedEvents();
    d.bus = m_bus;
    d.local = m_local;
    d.board = m_board;
    return d;
}

TableTrace::Encoded TableTrace::encode(const QString &message)
{
    Encoded e;
    e.message = IZQBusiness::messageTextToJson(message);
    QJsonObject claimed;
    IZQBusiness *module = m_tables->manager()->messageModule(message, claimed);
    clearCatch();
    if (!module) {
        const QByteArray frame = ZQBusinessManager::passThroughFrame(e.message);
        e.passThrough = e.message.value(QStringLiteral("eventid")).toString() == QLatin1String("EVENT_ANY");
        if (!frame.isEmpty())
            e.frames << frame;
    } else {
        e.module = m_tables->describe(module);
        const CentreTables::Table *table = m_tables->tableOf(module);
        if (!table) {
            e.inCode = true;
            return e;
        }
        e.tableModule = true;
        const QByteArray frame = module->DealMessage(claimed);
        module->Send(frame);
        e.frames = m_board;
        e.bus = m_bus;
        e.local = m_local;
        // Each frame from the entry that builds it: the entry of the event
        // when its frame is the one sent, else (the module made the message
        // into other events) the entry whose key the frame carries.
        ZQFitCommand *fit = table->module->fitEngine();
        const QList<ZQTableEntry> entries = fit->entries();
        const ZQTableEntry *own = CentreTables::fitEntry(entries, claimed.value(QStringLiteral("eventid")).toString());
        const bool ownSent = own && e.frames.size() == 1 && e.frames.first() == fit->fit(claimed);
        e.inCode = !e.frames.isEmpty() && !ownSent;
        for (const QByteArray &f : qAsConst(e.frames)) {
            const ZQTableEntry *entry = ownSent ? own : nullptr;
            for (int i = 0; !entry && i < entries.size(); ++i)
                if (f.mid(ZQBoardFrame::CommandOffset, entries.at(i).key.size()) == entries.at(i).key)
                    entry = &entries.at(i);
            e.sources << sourceOf(*table, entry);
        }
    }
    // The dispatch hub splits long commands on link version 2, numbering
    // each split command with the next serial.
    for (const QByteArray &frame : qAsConst(e.frames)) {
        QList<QByteArray> parts;
        if (frame.size() > ZQTMsgDispatch::kMaxUnsplitBytes) {
            m_splitSerial = ZQTMsgDispatch::nextSplitSerial(m_splitSerial);
            parts = ZQTMsgDispatch::splitCommand(frame, m_splitSerial);
        }
        e.parts << parts;
    }
    return e;
}
