#ifndef ZQBOARDFRAME_H
#define ZQBOARDFRAME_H

#include <QByteArray>

// Building board frames on the PC side. Every frame the PC writes to the
// mainboard has the same header, so it is built here and nowhere else:
//
//   7F, L, 99, A2, B3, C4, 02, FF, command key and parameters, CF
//
// with L = frame length - 3. The length travels in one byte, so a command of
// more than MaxCommandLength bytes has no frame: it is refused (empty result)
// rather than sent with a wrapped length the board would misread.
//
// Link version 2 also knows part frames, which carry one piece of a long
// command: 7F, L, 99, A3, count, index, serial, FF, key (2 bytes), piece, CF.
namespace ZQBoardFrame {

constexpr char StartByte = char(0x7F);
constexpr char EndByte = char(0xCF);
constexpr int HeaderSize = 8;      // 7F, L and the six header bytes
constexpr int CommandOffset = 8;   // where the command key starts
constexpr int MaxCommandLength = 255 - 6;

// The whole frame around `command`; empty when `command` is longer than
// MaxCommandLength.
QByteArray build(const QByteArray &command);

// The same frame for byte lists written in code, e.g. build({0x0F, 0x01}).
QByteArray build(std::initializer_list<unsigned char> command);

// The same frame at any length, the length byte keeping its low eight bits:
// for frames that never reach the board (a multi-frame message joined for the
// modules) and for the board simulator, which sends odd frames on purpose.
QByteArray buildUnchecked(const QByteArray &command);

// One part frame of a long command split for link version 2. `key` is the
// two-byte command key, `serial` keeps its low eight bits.
QByteArray buildPart(int count, int index, int serial, const QByteArray &key,
                     const QByteArray &piece);

} // namespace ZQBoardFrame

#endif
