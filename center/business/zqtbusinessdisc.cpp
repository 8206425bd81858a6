#include "zqtbusinessdisc.h"

#include "businesslogging.h"
#include "czqsharedkit.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonArray>
#include <QRunnable>
#include <QSet>

#include <functional>

namespace {

const char kPenChange[] = "ID_ZQ_PEN_PROPERTY_CHANGE";
const char kPenColor[] = "SET_DISC_PEN_COLOR";
const char kPenWidth[] = "SET_DISC_PEN_WIDTH";

const QSet<QString>& localEvents()
{
    static const QSet<QString> events = {
        "ID_SCREEN_CAPCHER", "ID_ITEM_VISUALIZER", "DISC_HEART", "DISC_VERSION",
        "GET_SYSTEM_OF_DISC_AT", "ID_CAN_PRESCHOOL_WHITEBOARD", "ID_ZQ_FILE_CLOSE",
        "ID_ALL_TESK", "ID_SPORT_LIGHT", "ID_CALCULATOR", "ID_TOOL_VELABRIDGE",
        "ID_DOUBLE_TEACHER", "ID_RECORD_CLASS", "ID_CLASS_ASSESSMENT", "ID_DISC_CLOSE",
        "RUN_VELA_APP", "CHECK_VELA_APP", "ID_ITEM_RECORD", "ID_NEW_ANNOTATE", "ID_ZOOM",
        "ID_CLOCK", "ID_ITEM_ISTUDY", "ID_ITEM_HAPPY", "ID_ITEM_ICLASS", "ID_ITEM_MICRO",
        "ID_ITEM_WIRELESSTRAN", "ID_ITEM_RECHELP", "ID_ITEM_CHOSEONE", "ID_ITEM_FLOWER",
        "ID_ITEM_ROLLCALL", "ID_UISTATE_DESKTOP_RETURN", "ID_VELAPAI6", "ID_GET_OPS_VELA_APP"};
    return events;
}

QString eventOf(const QJsonObject& message)
{
    return message.value(QStringLiteral("eventid")).toString();
}

QJsonValue firstValue(const QJsonObject& message)
{
    return message.value(QStringLiteral("param")).toArray().at(0).toObject().value(QStringLiteral("value"));
}

QJsonObject element(const QString& type, const QJsonValue& value)
{
    QJsonObject e;
    e.insert(QStringLiteral("type"), type);
    e.insert(QStringLiteral("value"), value);
    return e;
}

// A pen colour must be a text and a width a number; anything else would be
// fitted into a frame that carries no colour or a wrong width.
QString penParamProblem(const QJsonObject& message)
{
    const QString event = eventOf(message);
    const QJsonValue value = firstValue(message);
    if (event == QLatin1String(kPenColor) && !value.isString())
        return QStringLiteral("the colour is not a text");
    if (event == QLatin1String(kPenWidth) && !value.isDouble())
        return QStringLiteral("the width is not a number");
    return QString();
}

bool isAppExit(const QString& event)
{
    return event == QLatin1String("ID_APP_EXIT") || event == QLatin1String("ID_EVENT_APP_EXIT");
}

class Job : public QRunnable
{
public:
    explicit Job(std::function<void()> work) : m_work(std::move(work)) {}
    void run() override { m_work(); }

private:
    std::function<void()> m_work;
};

} // namespace

const char* const ZQTbusinessDisc::kWhiteBoardProcess = "VelaTouchPro.exe";

ZQTbusinessDisc::ZQTbusinessDisc(DvScreen* screen, QObject* parent)
    : ZQTbusiness(screen, parent)
{
    // Without an answer each event waits a second: at the link's pace about
    // ten wait at once.
    m_askers.setMaxThreadCount(kMaxAsking);
}

ZQTbusinessDisc::~ZQTbusinessDisc()
{
    m_closing = true;
    m_askers.waitForDone();
}

void ZQTbusinessDisc::init()
{
    setConfigPath(QCoreApplication::applicationDirPath() + QStringLiteral("/DiscCommand.xml"));
    ZQTbusiness::init();
}

QJsonObject ZQTbusinessDisc::WhiteBoardToCenterMsg(QJsonObject message)
{
    if (eventOf(message) != QLatin1String(kPenChange))
        return message;
    const QJsonObject property = message.value(QStringLiteral("property")).toObject();
    QJsonArray param;
    // QJsonObject iterates its keys in ascending order.
    for (auto it = property.constBegin(); it != property.constEnd(); ++it) {
        const QString key = it.key();
        const QJsonValue value = it.value();
        if (key == QLatin1String("Color")) {
            message.insert(QStringLiteral("eventid"), QLatin1String(kPenColor));
            param.append(element(key, value));
        } else if (key == QLatin1String("Width")) {
            message.insert(QStringLiteral("eventid"), QLatin1String(kPenWidth));
            param.append(element(key, value.isDouble() ? QJsonValue(qRound(value.toDouble())) : value));
        } else {
            QJsonObject e;
            e.insert(QStringLiteral("type"), key);
            param.append(e);
        }
    }
    message.insert(QStringLiteral("param"), param);
    return message;
}

QList<QJsonObject> ZQTbusinessDisc::tableMessages(const QJsonObject& message)
{
    const QJsonObject converted = WhiteBoardToCenterMsg(message);
    const QJsonObject property = message.value(QStringLiteral("property")).toObject();
    if (eventOf(message) != QLatin1String(kPenChange) || !property.contains(QStringLiteral("Color"))
        || !property.contains(QStringLiteral("Width")))
        return {converted};
    // Both in one change: one message per event, each with its own element,
    // so the width is not read from the colour's text.
    QList<QJsonObject> messages;
    for (const QJsonValue& e : converted.value(QStringLiteral("param")).toArray()) {
        const QString type = e.toObject().value(QStringLiteral("type")).toString();
        if (type != QLatin1String("Color") && type != QLatin1String("Width"))
            continue;
        QJsonObject one = converted;
        one.insert(QStringLiteral("eventid"),
                   QLatin1String(type == QLatin1String("Color") ? kPenColor : kPenWidth));
        one.insert(QStringLiteral("param"), QJsonArray{e});
        messages.append(one);
    }
    return messages;
}

bool ZQTbusinessDisc::isCanDealMessage(QJsonObject message)
{
    if (eventOf(message) == QLatin1String(kPenChange)
        && !message.value(QStringLiteral("property")).isObject())
        qCWarning(lcDisc) << kPenChange << "without a \"property\" object; not for the board";
    for (const QJsonObject& converted : tableMessages(message)) {
        if (eventOf(converted) == QLatin1String("ID_APP_EXIT") || ZQTbusiness::isCanDealMessage(converted))
            return true;
    }
    return false;
}

QByteArray ZQTbusinessDisc::DealMessage(QJsonObject message)
{
    const QList<QJsonObject> messages = tableMessages(message);
    QByteArray last;
    for (const QJsonObject& converted : messages) {
        const QString event = eventOf(converted);
        if (isAppExit(event))
            emit sigSendLocal(QStringLiteral("ID_APP_EXIT"));
        const QString problem = penParamProblem(converted);
        if (!problem.isEmpty()) {
            qCWarning(lcDisc).noquote() << event << "message not sent to the board:" << problem;
            continue;
        }
        // All but the last frame go out here; the manager sends the last.
        if (!last.isEmpty())
            Send(last);
        last = ZQTbusiness::DealMessage(converted);
    }
    return last;
}

bool ZQTbusinessDisc::isLocalMsg(QJsonObject message)
{
    const QString event = eventOf(message);
    if (localEvents().contains(event))
        return true;
    if (event == QLatin1String("ID_WHITEBOARD") || event == QLatin1String("ID_ITEM_WHITEBOARD"))
        return CZqSharedKit::getInstence()->checkProgramRun(QLatin1String(kWhiteBoardProcess)) < 1;
    if (event == QLatin1String("ID_ITEM_STROKE_SMOOTH"))
        return CZqSharedKit::getInstence()->getTopApp().isEmpty();
    return false;
}

QString ZQTbusinessDisc::localName(const QJsonObject& message)
{
    const QString event = eventOf(message);
    const QJsonValue value = firstValue(message);
    if (event == QLatin1String("GET_SYSTEM_OF_DISC_AT") && value.toInt() == 1)
        return QStringLiteral("ID_HAS_DISC");
    // An empty name asks for "ID_", which the local operator answers with
    // its "not installed" hint.
    if (event == QLatin1String("RUN_VELA_APP"))
        return QStringLiteral("ID_") + value.toString();
    return event;
}

ZQTbusinessDisc::Outcome ZQTbusinessDisc::outcomeOf(const QJsonObject& message)
{
    Outcome outcome;
    if (isLocalMsg(message))
        outcome.local = localName(message);
    else
        outcome.message = addressedToFront(message);
    return outcome;
}

void ZQTbusinessDisc::Send(QJsonObject message)
{
    if (message.isEmpty())
        return;
    quint64 ticket;
    {
        std::lock_guard<std::mutex> lock(m_orderMutex);
        ticket = m_nextTicket++;
    }
    // Plain local events need no question: handed on at once (after the
    // events before them).
    if (localEvents().contains(eventOf(message))) {
        handOn(ticket, Outcome{localName(message), QJsonObject()});
        return;
    }
    m_askers.start(new Job([this, message, ticket]() { handOn(ticket, outcomeOf(message)); }));
}

void ZQTbusinessDisc::waitForHandedOn()
{
    // Each job hands its outcome on before it ends.
    m_askers.waitForDone();
}

void ZQTbusinessDisc::handOn(quint64 ticket, const Outcome& outcome)
{
    std::unique_lock<std::mutex> lock(m_orderMutex);
    m_ready.insert(ticket, outcome);
    // Another thread is handing on: it takes this one too when its turn comes.
    if (m_handingOn)
        return;
    m_handingOn = true;
    while (!m_ready.isEmpty() && m_ready.firstKey() == m_nextHandOn) {
        const Outcome next = m_ready.take(m_nextHandOn++);
        lock.unlock();
        if (m_closing) {
            // The centre is stopping; nobody listens any more.
        } else if (!next.local.isEmpty()) {
            emit sigSendLocal(next.local);
        } else if (!next.message.isEmpty()) {
            ZQTbusiness::Send(next.message);
        }
        lock.lock();
    }
    m_handingOn = false;
}

QJsonObject ZQTbusinessDisc::addressedToFront(QJsonObject message)
{
    const QString top = CZqSharedKit::getInstence()->getTopApp();
    if (top.isEmpty())
        return QJsonObject();
    message.insert(QStringLiteral("from"), QStringLiteral("ID_APP_VELACENTER"));
    message.insert(QStringLiteral("to"), top);
    message.insert(QStringLiteral("scenario"), QStringLiteral("ID_SCENARIO_DISC"));

    const QString event = eventOf(message);
    const QJsonArray param = message.value(QStringLiteral("param")).toArray();
    const QJsonValue value = firstValue(message);
    QJsonObject property;
    if (event == QLatin1String(kPenColor)) {
        message.insert(QStringLiteral("eventid"), QStringLiteral("ID_ITEM_STROKE_SMOOTH"));
        property.insert(QStringLiteral("Color"), value.toString());
    } else if (event == QLatin1String(kPenWidth)) {
        message.insert(QStringLiteral("eventid"), QStringLiteral("ID_ITEM_STROKE_SMOOTH"));
        property.insert(QStringLiteral("Width"), value.toInt());
    } else if (event == QLatin1String("ID_WHITEBOARD")) {
        message.insert(QStringLiteral("eventid"), QStringLiteral("ID_SHOW_ACTIVE"));
    } else {
        for (const QJsonValue& e : param) {
            const QJsonObject o = e.toObject();
            property.insert(o.value(QStringLiteral("type")).toString(),
                            o.value(QStringLiteral("value")).toVariant().toString());
        }
    }
    message.insert(QStringLiteral("property"), property);
    return message;
}
