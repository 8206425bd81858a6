#ifndef FLEETCOMMANDPOLICY_H
#define FLEETCOMMANDPOLICY_H

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// The allow-list of commands the fleet may send onto the panel's bus. Each
// rule names one event and the one bus program it may reach; "EVENT_ANY"
// (raw bytes for the mainboard) is allowed only with the exact command bytes
// of its rule. Everything else is refused.
class FleetCommandPolicy
{
public:
    struct Rule
    {
        QString event;
        QString target;
        QByteArray bytes; // EVENT_ANY only: the command bytes it may carry
    };

    struct Decision
    {
        bool allowed = false;
        QString target;      // bus program the message goes to
        QJsonObject message; // the bus message, built here, never copied whole
        QString reason;      // why it was refused
    };

    // The bus identifier of the bridge, put in "from".
    static const char *const kBusId;
    // Prefix of the "id" the bridge gives a command on the bus, so replies
    // to it can be told from those to the panel's own applications.
    static const char *const kBusIdPrefix;

    // "EVENT>TARGET", or "EVENT_ANY:HEXBYTES>TARGET". False with `error` set
    // for an entry that cannot be used.
    static bool parseRule(const QString &entry, Rule *rule, QString *error);
    // Event names and identifiers usable in a topic and on the bus.
    static bool isPlainName(const QString &name);

    void addRule(const Rule &rule);
    QList<Rule> rules() const { return m_rules; }
    QStringList describe() const;

    // What to do with a command for `event` whose payload (a JSON object from
    // the network) is `payload`; `id` is the command's id.
    Decision decide(const QString &event, const QString &id, const QJsonObject &payload) const;

private:
    QList<Rule> m_rules;
};

#endif // FLEETCOMMANDPOLICY_H
