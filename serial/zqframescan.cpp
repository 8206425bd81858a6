#include "zqframescan.h"

namespace ZQFrameScan {

namespace {
constexpr char FixedAt2 = char(0x99);
constexpr char FixedAt7 = char(0xFF);
constexpr int HeaderSize = 8;
constexpr int ShortFrameLength = 0x0A; // may close early, at offset 11
constexpr int ShortFrameSize = 12;
} // namespace

Result scan(QByteArray &source, QByteArray &frame)
{
    Result r;
    const int size = source.size();
    const char *d = source.constData();
    int pos = 0;      // first byte that may still start a frame
    int keepFrom = 0; // what stays in the buffer when no frame is cut

    for (;;) {
        const int s = source.indexOf(StartByte, pos);
        if (s < 0) {
            keepFrom = size;
            break;
        }
        const int avail = size - s;
        if (avail < HeaderSize) {
            keepFrom = s;
            break;
        }
        const int len = static_cast<signed char>(d[s + 1]);
        if (d[s + 2] != FixedAt2 || d[s + 7] != FixedAt7 || len < MinFrameSize - 3) {
            pos = s + 1;
            continue;
        }
        int count = 0;
        if (len == ShortFrameLength && avail >= ShortFrameSize && d[s + ShortFrameSize - 1] == EndByte) {
            count = ShortFrameSize;
            r.length = ShortFrameSize - 3;
        } else if (avail < len + 3) {
            keepFrom = s; // the rest of this frame has not arrived yet
            break;
        } else if (d[s + len + 2] == EndByte) {
            count = len + 3;
            r.length = len;
        } else {
            pos = s + 1;
            continue;
        }
        r.found = true;
        r.start = s;
        r.count = count;
        r.end = s + count - 1;
        r.discarded = s;
        frame = source.mid(s, count);
        source.remove(0, s + count);
        return r;
    }
    r.discarded = keepFrom;
    if (keepFrom > 0)
        source.remove(0, keepFrom);
    return r;
}

QString toHex(const QByteArray &bytes, char separator)
{
    return QString::fromLatin1(bytes.toHex(separator).toUpper());
}

} // namespace ZQFrameScan
