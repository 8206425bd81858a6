#include "soaksequence.h"

#include <algorithm>

SoakSequence::SoakSequence(int modulus)
    : m_modulus(modulus > 0 ? modulus : 0)
{
}

int SoakSequence::send(qint64 atMs)
{
    m_sentAt.append(atMs);
    m_firstAt.append(-1);
    m_copies.append(0);
    m_behind.append(false);
    return m_sentAt.size() - 1;
}

int SoakSequence::resolve(int carried) const
{
    if (!m_modulus)
        return carried >= 0 && carried < m_sentAt.size() ? carried : -1;
    if (carried < 0 || carried >= m_modulus)
        return -1;
    // Items come in order as a rule: the first item after the newest one
    // that arrived and has this remainder. Not sent yet: a late or repeated
    // copy of the last one before it.
    const int next = m_highest + 1;
    const int ahead = next + ((carried - next) % m_modulus + m_modulus) % m_modulus;
    if (ahead < m_sentAt.size())
        return ahead;
    return ahead - m_modulus >= 0 ? ahead - m_modulus : -1;
}

void SoakSequence::arrive(int number, qint64 atMs)
{
    const int n = resolve(number);
    if (n < 0) {
        ++m_unknown;
        return;
    }
    if (m_copies[n]++ > 0)
        return;
    m_firstAt[n] = atMs;
    if (n < m_highest)
        m_behind[n] = true;
    else
        m_highest = n;
}

int SoakSequence::missing() const
{
    return int(std::count(m_firstAt.cbegin(), m_firstAt.cend(), qint64(-1)));
}

QVector<qint64> SoakSequence::lostSentAt() const
{
    QVector<qint64> at;
    for (int n = 0; n < m_sentAt.size(); ++n) {
        if (m_firstAt.at(n) < 0)
            at << m_sentAt.at(n);
    }
    return at;
}

SoakSequence::Figures SoakSequence::figures(const QVector<Window> &windows, qint64 nearMs) const
{
    Figures f;
    f.unknown = m_unknown;
    for (int n = 0; n < m_sentAt.size(); ++n) {
        const qint64 at = m_sentAt.at(n);
        Counts *c = &f.outside;
        const Window *keptIn = nullptr;
        for (const Window &w : windows) {
            if (at >= w.lossAtMs && at < w.backAtMs) {
                c = &f.kept;
                keptIn = &w;
                break;
            }
            if (at >= w.lossAtMs - nearMs && at < w.lossAtMs)
                c = &f.nearLoss;
        }
        ++c->sent;
        if (m_copies.at(n) == 0) {
            ++c->lost;
            continue;
        }
        ++c->arrived;
        c->duplicated += m_copies.at(n) - 1;
        c->reordered += m_behind.at(n) ? 1 : 0;
        if (keptIn && m_firstAt.at(n) >= keptIn->backAtMs)
            ++f.keptAfterReturn;
    }
    return f;
}
