#include "strokeacccode.h"

#include "zqboardframe.h"

#include <cmath>

QByteArray strokeAccHexToBytes(const QString &hex)
{
    QByteArray bytes;
    bytes.reserve(hex.size() / 2 + 1);
    for (int i = 0; i < hex.size(); i += 2) {
        bool ok = false;
        const int value = hex.mid(i, 2).toInt(&ok, 16);
        bytes.append(char(ok ? value : 0));
    }
    return bytes;
}

QString strokeAccBytesToHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

StrokeAccRequest strokeAccCheckRequest(const QByteArray &request)
{
    if (request.size() <= 6 || quint8(request[0]) != 0xE0 || quint8(request[1]) != 0x11)
        return StrokeAccRequest::NotMarker;
    quint8 sum = 0;
    for (char b : request)
        sum = quint8(sum + quint8(b));
    return sum == 0xFF ? StrokeAccRequest::Marker : StrokeAccRequest::BadCheck;
}

unsigned int strokeAccRequestColour(const QByteArray &request)
{
    unsigned int colour = 0;
    for (int i = 2; i < 6 && i < request.size(); ++i)
        colour = (colour << 8) | quint8(request[i]);
    return colour;
}

unsigned int strokeAccContrastColour(unsigned int colour)
{
    const unsigned int r = (colour >> 16) & 0xFF, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
    return (r > 180 && g > 180 && b > 180) ? 0x333333 : 0xEEEEEE;
}

bool strokeAccIsSixteenByNine(int width, int height)
{
    if (width <= 0 || height <= 0)
        return false;
    return std::fabs(float(height) / float(width) - 0.5625f) < 0.0001f;
}

QByteArray strokeAccMarkerRequest(unsigned int colour)
{
    QByteArray command("\xE0\x11", 2);
    for (int shift = 24; shift >= 0; shift -= 8)
        command.append(char((colour >> shift) & 0xFF));
    quint8 sum = 0;
    for (char b : command)
        sum = quint8(sum + quint8(b));
    return command.append(char(~sum));
}

QString getInkDrawScreenShotRs232Code(unsigned int colour)
{
    return strokeAccBytesToHex(ZQBoardFrame::build(strokeAccMarkerRequest(colour)));
}
