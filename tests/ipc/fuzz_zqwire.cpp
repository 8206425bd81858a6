// libFuzzer target over the bus's byte functions. The first input byte picks
// where the rest is cut into reads; every cut must give what one read of the
// whole gives, and the frame-text splitting must account for every byte.

#include "zqwire.h"

#include <cstdint>
#include <cstdlib>

namespace {
void check(bool ok)
{
    if (!ok)
        std::abort();
}

QList<QByteArray> chunks(const QByteArray &data, uint8_t seed)
{
    QList<QByteArray> out;
    const int step = 1 + seed % 97;
    for (int at = 0; at < data.size(); at += step)
        out << data.mid(at, step);
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t seed = bytes[0];
    const QByteArray data(reinterpret_cast<const char *>(bytes + 1), int(size - 1));

    // Frames: cut reads give the same frames as one read, up to a bad length.
    QByteArray wholeCarry, cutCarry;
    QList<QByteArray> whole, cut;
    const ZQWire::ParseStatus wholeStatus = ZQWire::takeFrames(wholeCarry, data.constData(), data.size(), whole);
    ZQWire::ParseStatus cutStatus = ZQWire::ParseStatus::Ok;
    for (const QByteArray &c : chunks(data, seed)) {
        cutStatus = ZQWire::takeFrames(cutCarry, c.constData(), c.size(), cut);
        if (cutStatus != ZQWire::ParseStatus::Ok)
            break;
    }
    check(wholeStatus == cutStatus);
    check(whole == cut);
    for (const QByteArray &p : whole)
        check(p.size() <= ZQWire::kMaxPayload);
    if (wholeStatus == ZQWire::ParseStatus::Ok)
        check(wholeCarry == cutCarry && wholeCarry.size() < ZQWire::kBufferSize + 4);

    // Replies: the same messages whichever way the reads fall.
    QByteArray rWhole, rCut;
    QList<QByteArray> mWhole, mCut;
    ZQWire::takeReplies(rWhole, data.constData(), data.size(), mWhole);
    for (const QByteArray &c : chunks(data, seed >> 1))
        ZQWire::takeReplies(rCut, c.constData(), c.size(), mCut);
    check(mWhole == mCut && rWhole == rCut);
    check(mWhole.size() == data.count('\0'));

    // The hub's own split of the bytes: pieces lie within the payload, and a
    // publish's message is everything behind the first marker.
    const ZQWire::RoutingView v = ZQWire::splitFrameBytes(data.constData(), data.size());
    if (v.kind != ZQWire::Kind::Invalid) {
        check(v.firstAt >= 0 && v.firstSize >= 0 && v.firstAt + v.firstSize <= data.size());
        check(v.secondAt >= 0 && v.secondSize >= 0 && v.secondAt + v.secondSize <= data.size());
    }
    if (v.kind == ZQWire::Kind::Publish)
        check(v.secondAt + v.secondSize == data.size() && data.mid(v.firstSize, 4) == ZQWire::kMarker);

    // Monitor records: any text comes back whole; any bytes parse or not
    // without harm.
    ZQWire::MonitorRecord m;
    const QByteArray record = ZQWire::monitorRecord("directed", 1, "A", "B", 1, data.constData(), data.size());
    check(ZQWire::parseMonitorRecord(record.chopped(1), m) && m.text == data);
    ZQWire::parseMonitorRecord(data, m);

    // Frame texts: a publish keeps every character behind the first marker.
    const QString text = QString::fromUtf8(data);
    const ZQWire::Routing r = ZQWire::splitFrameText(text);
    if (r.kind == ZQWire::Kind::Publish)
        check(r.first + QLatin1String(ZQWire::kMarker) + r.second == text);
    if (r.kind == ZQWire::Kind::Broadcast || r.kind == ZQWire::Kind::Directed)
        check(text.endsWith(r.second) && !r.first.contains(QLatin1String(ZQWire::kMarker)));
    return 0;
}
