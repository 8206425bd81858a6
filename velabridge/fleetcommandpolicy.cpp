#include "fleetcommandpolicy.h"

#include <QJsonValue>
#include <QRegularExpression>

const char *const FleetCommandPolicy::kBusId = "ID_APP_VELAFLEET";
const char *const FleetCommandPolicy::kBusIdPrefix = "fleet-";

namespace {

const QString kEventAny = QStringLiteral("EVENT_ANY");

FleetCommandPolicy::Decision refuse(const QString &why)
{
    FleetCommandPolicy::Decision d;
    d.reason = why;
    return d;
}

} // namespace

bool FleetCommandPolicy::isPlainName(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_]{1,64}$"));
    return plain.match(name).hasMatch();
}

bool FleetCommandPolicy::parseRule(const QString &entry, Rule *rule, QString *error)
{
    const QString text = entry.trimmed();
    const int arrow = text.indexOf(QLatin1Char('>'));
    if (arrow < 0) {
        *error = QStringLiteral("\"%1\" names no bus target (EVENT>TARGET)").arg(text);
        return false;
    }
    QString event = text.left(arrow).trimmed();
    const QString target = text.mid(arrow + 1).trimmed();
    QByteArray bytes;
    const int colon = event.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        const QString hex = event.mid(colon + 1).trimmed();
        event = event.left(colon).trimmed();
        static const QRegularExpression hexBytes(QStringLiteral("^([0-9A-Fa-f]{2})+$"));
        if (event != kEventAny || !hexBytes.match(hex).hasMatch()) {
            *error = QStringLiteral("\"%1\": only EVENT_ANY takes bytes, as hex digits").arg(text);
            return false;
        }
        bytes = QByteArray::fromHex(hex.toLatin1());
    }
    if (!isPlainName(event) || !isPlainName(target)) {
        *error = QStringLiteral("\"%1\": event and target must be plain names").arg(text);
        return false;
    }
    // The bus's reserved words broadcast or send raw control texts.
    if (target == QLatin1String("ID_ALL") || target == QLatin1String("ID_NULL")) {
        *error = QStringLiteral("\"%1\": %2 is not a program").arg(text, target);
        return false;
    }
    if (event == kEventAny && bytes.isEmpty()) {
        *error = QStringLiteral("\"%1\": EVENT_ANY is allowed only with its exact command bytes "
                                "(EVENT_ANY:C30240>%2)").arg(text, target);
        return false;
    }
    rule->event = event;
    rule->target = target;
    rule->bytes = bytes;
    return true;
}

void FleetCommandPolicy::addRule(const Rule &rule)
{
    m_rules.append(rule);
}

QStringList FleetCommandPolicy::describe() const
{
    QStringList out;
    for (const Rule &r : m_rules)
        out << (r.bytes.isEmpty() ? r.event : r.event + QLatin1Char(':') + QString::fromLatin1(r.bytes.toHex().toUpper()))
                   + QLatin1Char('>') + r.target;
    return out;
}

FleetCommandPolicy::Decision FleetCommandPolicy::decide(const QString &event, const QString &id,
                                                        const QJsonObject &payload) const
{
    QList<Rule> candidates;
    for (const Rule &r : m_rules)
        if (r.event == event)
            candidates << r;
    if (candidates.isEmpty())
        return refuse(QStringLiteral("event not allowed"));

    // A command may pick one of the targets its event is allowed to reach.
    const QJsonValue to = payload.value(QStringLiteral("to"));
    if (!to.isUndefined()) {
        QList<Rule> chosen;
        for (const Rule &r : candidates)
            if (to.isString() && r.target == to.toString())
                chosen << r;
        if (chosen.isEmpty())
            return refuse(QStringLiteral("target not allowed for this event"));
        candidates = chosen;
    }

    const QJsonValue param = payload.value(QStringLiteral("param"));
    const Rule *rule = &candidates.first();
    if (event == kEventAny) {
        // Exact bytes only: the Base64 text must decode, strictly, to the
        // bytes of one rule.
        rule = nullptr;
        if (!param.isString())
            return refuse(QStringLiteral("EVENT_ANY needs its bytes as Base64 text in \"param\""));
        const QByteArray text = param.toString().toLatin1();
        const QByteArray bytes = QByteArray::fromBase64(text);
        if (bytes.toBase64() != text)
            return refuse(QStringLiteral("\"param\" is not Base64"));
        for (const Rule &r : qAsConst(candidates))
            if (r.bytes == bytes)
                rule = &r;
        if (!rule)
            return refuse(QStringLiteral("EVENT_ANY bytes not allowed"));
    }

    Decision d;
    d.allowed = true;
    d.target = rule->target;
    d.message.insert(QStringLiteral("eventid"), event);
    d.message.insert(QStringLiteral("from"), QLatin1String(kBusId));
    d.message.insert(QStringLiteral("to"), rule->target);
    if (!param.isUndefined())
        d.message.insert(QStringLiteral("param"), param);
    d.message.insert(QStringLiteral("id"), QLatin1String(kBusIdPrefix) + id);
    return d;
}
