#include "fleetwarnlimiter.h"

namespace {
// Kinds come partly from the network (event names): past this many, the
// rest share one slot.
const int kMaxKinds = 256;
} // namespace

bool FleetWarnLimiter::take(const QString &kind, int *heldBack)
{
    const bool known = m_slots.contains(kind) || m_slots.size() < kMaxKinds;
    Slot &s = m_slots[known ? kind : QStringLiteral("(other)")];
    if (s.last.isValid() && s.last.elapsed() < m_intervalMs) {
        ++s.held;
        return false;
    }
    *heldBack = s.held;
    s.held = 0;
    s.last.start();
    return true;
}
