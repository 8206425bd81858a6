#include "zqboardframe.h"

namespace ZQBoardFrame {

namespace {

const char PcHeader[] = "\x7F\x00\x99\xA2\xB3\xC4\x02\xFF";

QByteArray around(const char *header, const QByteArray &body)
{
    QByteArray frame;
    frame.reserve(HeaderSize + body.size() + 1);
    frame.append(header, HeaderSize);
    frame.append(body);
    frame.append(EndByte);
    frame[1] = char((frame.size() - 3) & 0xFF);
    return frame;
}

} // namespace

QByteArray build(const QByteArray &command)
{
    if (command.size() > MaxCommandLength)
        return QByteArray();
    return around(PcHeader, command);
}

QByteArray build(std::initializer_list<unsigned char> command)
{
    QByteArray bytes;
    bytes.reserve(int(command.size()));
    for (unsigned char b : command)
        bytes.append(char(b));
    return build(bytes);
}

QByteArray buildUnchecked(const QByteArray &command)
{
    return around(PcHeader, command);
}

QByteArray buildPart(int count, int index, int serial, const QByteArray &key,
                     const QByteArray &piece)
{
    const char header[HeaderSize] = {StartByte, 0, char(0x99), char(0xA3), char(count),
                                     char(index), char(serial & 0xFF), char(0xFF)};
    return around(header, key.left(2) + piece);
}

} // namespace ZQBoardFrame
