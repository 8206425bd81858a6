#include "zqbusinessmanager.h"

#include "centerlogging.h"
#include "dvscreen.h"
#include "izqbusiness.h"
#include "zqboardframe.h"
#include "zqbusinesscustomchannel.h"
#include "zqfitcommand.h"
#include "zqpretreatment.h"
#include "zqtbusinesscentralcontrol.h"
#include "zqtbusinessdisc.h"
#include "zqtbusinessshortcut.h"
#include "zqtbusinesssmsc.h"
#include "zqwriteacceleration.h"

#include <QDebug>
#include <QJsonObject>
#include <QMetaObject>

namespace {

const char kPassThroughEvent[] = "EVENT_ANY";

// Module signal -> manager signal. A module has some of these; each one it has
// is relayed, so a module needs nothing but its signals to be wired.
struct Relay {
    const char* moduleSignal;
    const char* managerSignal;
};
const Relay kRelays[] = {
    {SIGNAL(sigSendCommend(QByteArray)), SIGNAL(sigSendCommand(QByteArray))},
    {SIGNAL(sigSendCmd(QByteArray)), SIGNAL(sigSendCommand(QByteArray))},
    {SIGNAL(sigSendMessage(QString)), SIGNAL(sigSendMessage(QString))},
    {SIGNAL(sigSendLocal(QString)), SIGNAL(sigSendLocal(QString))},
    {SIGNAL(sigShowDialog(int,double,double)), SIGNAL(sigShowDialog(int,double,double))},
    {SIGNAL(sigShowToolBox(int,double,double)), SIGNAL(sigShowToolBox(int,double,double))},
};

} // namespace

ZQBusinessManager::ZQBusinessManager(QObject* parent)
    : QObject(parent)
    , m_screen(new DvScreen)
{
    // The order below is the order of precedence. Modules that are not part
    // of the program yet keep their places; each goes in as one addModule line.
    addModule(new ZQTbusinessDisc(m_screen, this));            // "DiscCommand.xml"
    addModule(new ZQTbusinessCentralControl(m_screen, this));  // "control.xml"
    addModule(new ZQTbusinessShortCut(this));
    //  4 pretreatment      ZQPretreatment(this)
    //  5 custom channel    ZQBusinessCustomChannel(this)
    //  6 write accel.      ZQWriteAcceleration(m_screen, this)
    //  7 smart screen      "SmSc.xml"
    addModule(new ZQPretreatment(this));
    addModule(new ZQBusinessCustomChannel(this));
    addModule(new ZQWriteAcceleration(m_screen, this));
    addModule(new ZQTbusinessSmSc(m_screen, this));
}

ZQBusinessManager::~ZQBusinessManager()
{
    // The modules use the screen object, so they go first.
    for (IZQBusiness* module : qAsConst(m_modules))
        delete module->getObject();
    m_modules.clear();
    delete m_screen;
}

void ZQBusinessManager::addModule(IZQBusiness* module)
{
    insertModule(m_modules.size(), module);
}

void ZQBusinessManager::insertModule(int index, IZQBusiness* module)
{
    QObject* object = module->getObject();
    object->setParent(this);
    for (const Relay& relay : kRelays) {
        // SIGNAL() prefixes a code digit that the meta-object lookup does not want.
        // Direct: the manager's signal is emitted on the module's thread and
        // crosses to the main thread once, like the pass-through traffic the
        // manager emits itself. A queued relay would add a second hop, and a
        // pass-through frame sent after a module's frame could overtake it.
        if (object->metaObject()->indexOfSignal(relay.moduleSignal + 1) >= 0)
            connect(object, relay.moduleSignal, this, relay.managerSignal, Qt::DirectConnection);
    }
    if (index < 0 || index > m_modules.size())
        index = m_modules.size();
    m_modules.insert(index, module);
}

QList<IZQBusiness*> ZQBusinessManager::modules() const
{
    return m_modules;
}

DvScreen* ZQBusinessManager::screen() const
{
    return m_screen;
}

void ZQBusinessManager::init()
{
    for (IZQBusiness* module : qAsConst(m_modules))
        module->init();
}

IZQBusiness* ZQBusinessManager::commandModule(const QByteArray& frame, QByteArray& key) const
{
    for (IZQBusiness* module : m_modules) {
        key.clear();
        if (module->isCanDealCommand(frame, key))
            return module;
    }
    key.clear();
    return nullptr;
}

IZQBusiness* ZQBusinessManager::messageModule(const QString& message, QJsonObject& json) const
{
    for (IZQBusiness* module : m_modules) {
        json = module->messageStrToJson(message);
        if (module->isCanDealMessage(json))
            return module;
    }
    return nullptr;
}

void ZQBusinessManager::linkUp()
{
    for (IZQBusiness* module : qAsConst(m_modules))
        module->linkUp();
}

void ZQBusinessManager::DealCommand(QByteArray frame)
{
    QByteArray key;
    if (IZQBusiness* module = commandModule(frame, key)) {
        module->Send(module->DealCommand(frame, key));
        return;
    }
    emit sigSendMessage(IZQBusiness::jsonToMessageText(passThroughMessage(frame)));
}

void ZQBusinessManager::DealMessage(QString message)
{
    QJsonObject claimed;
    if (IZQBusiness* module = messageModule(message, claimed)) {
        module->Send(module->DealMessage(claimed));
        return;
    }
    // Parsed here rather than taken from the last module asked: a module may
    // parse to nothing (one that takes no messages), and the list may be empty.
    const QJsonObject json = IZQBusiness::messageTextToJson(message);
    if (json.value(QStringLiteral("eventid")).toString() != QLatin1String(kPassThroughEvent))
        return;
    const QByteArray frame = passThroughFrame(json);
    if (!frame.isEmpty())
        emit sigSendCommand(frame);
}

QJsonObject ZQBusinessManager::passThroughMessage(const QByteArray& frame)
{
    // Everything between the header and the end byte, by the frame's real
    // size: a joined multi-frame message may be longer than its length byte says.
    const QByteArray payload = frame.size() > 9 ? frame.mid(8, frame.size() - 9) : QByteArray();
    QJsonObject json;
    json.insert(QStringLiteral("eventid"), QLatin1String(kPassThroughEvent));
    json.insert(QStringLiteral("from"), QStringLiteral("ID_APP_VELACENTER"));
    json.insert(QStringLiteral("to"), QStringLiteral("ID_APP_ANY"));
    json.insert(QStringLiteral("param"), QString::fromLatin1(payload.toBase64()));
    return json;
}

QByteArray ZQBusinessManager::passThroughFrame(const QJsonObject& message)
{
    if (message.value(QStringLiteral("eventid")).toString() != QLatin1String(kPassThroughEvent))
        return QByteArray();
    const QByteArray payload =
        QByteArray::fromBase64(message.value(QStringLiteral("param")).toString().toLatin1());
    if (payload.isEmpty()) {
        // Empty, missing or not Base64: an envelope without a command would
        // reach the board as a frame that means nothing.
        qCWarning(lcCore) << "EVENT_ANY without a command (its \"param\" decodes to no bytes); nothing sent";
        return QByteArray();
    }
    const QByteArray frame = ZQBoardFrame::build(payload);
    if (frame.isEmpty())
        qCWarning(lcCore) << "EVENT_ANY payload of" << payload.size() << "bytes exceeds"
                   << ZQBoardFrame::MaxCommandLength << "bytes, the most one frame holds; dropped";
    return frame;
}
