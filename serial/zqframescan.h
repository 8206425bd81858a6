#ifndef ZQFRAMESCAN_H
#define ZQFRAMESCAN_H

#include <QByteArray>
#include <QString>

// Cutting board frames out of a byte stream. Kept free of state and of any
// port so that the reader, the handshake and the board simulator share one
// scan and it can be exercised alone.
//
// Frame: 7F, L, 99, four header bytes, FF, command bytes, data, CF; the whole
// frame is L + 3 bytes, L read as a signed byte (so at most 130 bytes), and at
// least 9 bytes. A length byte of 0x0A with CF at offset 11 is a 12-byte frame.
namespace ZQFrameScan {

constexpr char StartByte = char(0x7F);
constexpr char EndByte = char(0xCF);
constexpr int MinFrameSize = 9;
constexpr int MaxFrameSize = 130;

struct Result
{
    bool found = false;   // a frame was cut
    int start = -1;       // offset of the frame's start byte in the buffer as passed
    int end = -1;         // offset of its end byte
    int count = 0;        // frame size
    int length = 0;       // length byte as used (9 under the 12-byte rule)
    int discarded = 0;    // bytes dropped that can never be part of a frame
};

// Cuts at most one frame from the front of `source`. On success `frame` gets
// the frame and `source` loses everything up to and including its end byte.
// A start byte that cannot begin a well-formed frame (wrong fixed byte, length
// byte below 6 or above 0x7F, or a byte other than CF where the end byte must
// stand although it has arrived) is dropped with everything before it, and the
// scan goes on behind it; bytes with no start byte at all are dropped too. A
// frame that is still arriving stays in `source`, from its start byte on.
Result scan(QByteArray &source, QByteArray &frame);

// "7F:08:99" style text used in the link's log lines.
QString toHex(const QByteArray &bytes, char separator = ':');

} // namespace ZQFrameScan

#endif
