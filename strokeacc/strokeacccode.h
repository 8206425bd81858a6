#ifndef STROKEACCCODE_H
#define STROKEACCCODE_H

#include <QByteArray>
#include <QString>

// Byte work of the stroke-acceleration agent: the marker request the
// mainboard sends (E0 11, colour, check byte) and the answer frame.

// Hex text two characters at a time; a pair that is not hex gives 0.
QByteArray strokeAccHexToBytes(const QString &hex);

// Bytes as two upper-case hex digits each, no separators.
QString strokeAccBytesToHex(const QByteArray &bytes);

enum class StrokeAccRequest {
    NotMarker,   // too short or not E0 11: ignored without a word
    BadCheck,    // the 8-bit sum of all bytes is not 0xFF
    Marker,      // a valid marker request
};
StrokeAccRequest strokeAccCheckRequest(const QByteArray &request);

// Colour 0x00RRGGBB from bytes 2 to 5 of a marker request.
unsigned int strokeAccRequestColour(const QByteArray &request);

// The colour of the two other corners, so the board tells the corners apart.
unsigned int strokeAccContrastColour(unsigned int colour);

// The screens the board can find the marker on.
bool strokeAccIsSixteenByNine(int width, int height);

// The marker request's command bytes: E0 11, the colour big-endian and the
// check byte that brings the 8-bit sum to 0xFF.
QByteArray strokeAccMarkerRequest(unsigned int colour);

// The answer: the board frame 7F 0D 99 A2 B3 C4 02 FF E0 11 colour check CF
// as 32 hex digits.
QString getInkDrawScreenShotRs232Code(unsigned int colour);

#endif // STROKEACCCODE_H
