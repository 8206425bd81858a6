#ifndef SOAKSEQUENCE_H
#define SOAKSEQUENCE_H

#include <QVector>

// One stream of numbered items (frames or messages) of the soak: when each
// was sent and when its copies arrived, and from that what was lost,
// duplicated or reordered. Items are told apart by when they were sent
// relative to the losses of the board's link: the last moments before the
// board went (a frame on the line then may go with it), the time it was away
// (the centre keeps commands for it), and the rest, where nothing may go
// wrong.
class SoakSequence
{
public:
    // The board ended at lossAtMs; the link was up again at backAtMs.
    struct Window
    {
        qint64 lossAtMs = 0;
        qint64 backAtMs = 0;
    };
    struct Counts
    {
        int sent = 0;
        int arrived = 0; // items of which at least one copy arrived
        int lost = 0;
        int duplicated = 0; // copies beyond the first
        int reordered = 0;  // first copies behind a later item's
    };
    struct Figures
    {
        Counts outside;           // sent away from any loss
        Counts nearLoss;          // sent shortly before the board went
        Counts kept;              // sent while the board was away
        int keptAfterReturn = 0;  // kept items whose first copy came after the return
        int unknown = 0;          // arrivals that match no item sent
    };

    // With a modulus, arrivals carry the number modulo it (a one-byte value
    // of a command table); they are matched on the assumption that fewer
    // than `modulus` items are on their way at any time.
    explicit SoakSequence(int modulus = 0);

    // Number of the next item, sent at `atMs`.
    int send(qint64 atMs);
    // A copy of item `number` (or its remainder) arrived at `atMs`.
    void arrive(int number, qint64 atMs);

    // Items sent of which no copy has arrived yet.
    int missing() const;
    // When the items of which no copy arrived were sent.
    QVector<qint64> lostSentAt() const;

    // `nearMs`: how long before a loss an item counts as near it.
    Figures figures(const QVector<Window> &windows, qint64 nearMs) const;

private:
    int resolve(int carried) const;

    int m_modulus;
    QVector<qint64> m_sentAt;
    QVector<qint64> m_firstAt; // -1 while missing
    QVector<int> m_copies;
    QVector<bool> m_behind; // first copy came after a higher number's
    int m_highest = -1;
    int m_unknown = 0;
};

#endif // SOAKSEQUENCE_H
