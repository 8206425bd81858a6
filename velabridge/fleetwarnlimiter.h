#ifndef FLEETWARNLIMITER_H
#define FLEETWARNLIMITER_H

#include <QElapsedTimer>
#include <QHash>
#include <QString>

// Keeps a flood of refused commands from filling the log: at most one line
// per kind in each interval; the lines held back are counted and told with
// the next one that is let through.
class FleetWarnLimiter
{
public:
    explicit FleetWarnLimiter(int intervalMs = 10000) : m_intervalMs(intervalMs) {}

    // True when a line of this kind may be written now; `heldBack` is then
    // the number of lines of the kind held back since the last one.
    bool take(const QString &kind, int *heldBack);

private:
    struct Slot
    {
        QElapsedTimer last;
        int held = 0;
    };
    QHash<QString, Slot> m_slots;
    int m_intervalMs;
};

#endif // FLEETWARNLIMITER_H
