// libFuzzer target for the board frame scan: the input is cut into chunks
// as a serial port might deliver it, and the scan must keep its promises
// whatever the bytes are. Built only with -DVELA_FUZZ=ON and clang:
//   build/tests/bin/fuzz_zqframescan -max_total_time=60

#include "zqframescan.h"

#include <cstdint>
#include <cstdlib>

namespace {
void check(bool ok)
{
    if (!ok)
        std::abort();
}

void checkFrame(const QByteArray &f)
{
    check(f.size() >= ZQFrameScan::MinFrameSize && f.size() <= ZQFrameScan::MaxFrameSize);
    check(f.at(0) == ZQFrameScan::StartByte && f.at(2) == char(0x99) && f.at(7) == char(0xFF));
    check(f.back() == ZQFrameScan::EndByte);
    const int len = static_cast<signed char>(f.at(1));
    check(f.size() == len + 3 || (len == 0x0A && f.size() == 12));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte sets the chunk size, the rest is the line's byte stream.
    const int chunk = 1 + data[0] % 64;
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), int(size - 1));
    QByteArray buffer;
    for (int pos = 0; pos < stream.size(); pos += chunk) {
        buffer.append(stream.mid(pos, chunk));
        for (;;) {
            QByteArray frame;
            const int before = buffer.size();
            const ZQFrameScan::Result r = ZQFrameScan::scan(buffer, frame);
            check(buffer.size() <= before);
            if (!r.found) {
                check(frame.isEmpty());
                break;
            }
            checkFrame(frame);
            check(r.count == frame.size() && buffer.size() == before - r.start - r.count);
        }
        // Drained: at most an unfinished frame is left.
        check(buffer.size() < ZQFrameScan::MaxFrameSize);
        check(buffer.isEmpty() || buffer.at(0) == ZQFrameScan::StartByte);
    }
    return 0;
}
