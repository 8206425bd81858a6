#ifndef ZQWIRE_H
#define ZQWIRE_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Byte-level work of the bus, kept apart from the sockets so it can be tested
// and fuzzed on its own. Nothing here blocks, allocates a socket or logs.
namespace ZQWire {

// Every client write is one frame: a 4-byte host-order length and the payload.
constexpr int kBufferSize = 20480;
constexpr int kLengthSize = 4;
constexpr int kMaxPayload = kBufferSize - kLengthSize;   // 20476
constexpr int kHelloBufferSize = 10240;

extern const char kMarker[];        // "Z&&Q"
extern const char kKindSubscribe[]; // "ZQ&&REG"
extern const char kKindUnsubscribe[];
extern const char kKindBroadcast[];
extern const char kKindDirected[];
extern const char kKindMonitor[];   // "ZQ&&MON": the hello of a monitor
extern const char kTargetAll[];     // "ID_ALL"
extern const char kTargetRaw[];     // "ID_NULL"
extern const char kHelloReply[];    // "succeful"

// The frame text a client sends for `message` to `target` (empty target:
// publish; "ID_ALL": broadcast; "ID_NULL": the message unchanged; else directed).
QString frameText(const QString &ownId, const QString &target, const QString &message);

// Appends length + payload to `out`. Returns false (and leaves `out` alone)
// when the payload is longer than kMaxPayload: such a text cannot be framed.
bool appendFrame(QByteArray &out, const QByteArray &payload);

enum class ParseStatus { Ok, BadLength };

// The length field of the frame at `at` (4 readable bytes, host order).
qint32 frameLength(const char *at);

// How many bytes from `data` on are complete frames. A length below 0 or
// above kMaxPayload sets BadLength and ends the count there.
int completeFrames(const char *data, int size, ParseStatus &status);

// Cuts the complete frames out of `carry` + the `size` new bytes at `data`.
// Payloads are appended to `payloads` in order; the bytes of a frame that is not
// complete yet stay in `carry` for the next read. A length below 0 or above
// kMaxPayload returns BadLength: the stream cannot be resynchronised after it.
ParseStatus takeFrames(QByteArray &carry, const char *data, int size, QList<QByteArray> &payloads);

// Decodes a payload as UTF-8 up to its first NUL byte.
QString payloadText(const QByteArray &payload);

// What the hub does with a frame text.
enum class Kind { Subscribe, Unsubscribe, Broadcast, Directed, Publish, Invalid };
struct Routing {
    Kind kind = Kind::Invalid;
    QString first;   // subscribe/unsubscribe: source; broadcast: sender;
                     // directed: target; publish: sender
    QString second;  // subscribe/unsubscribe: subscriber; otherwise the message
};
// Splits a frame text at the markers. The message is everything behind the
// routing pieces, so a message that itself holds the marker travels whole.
Routing splitFrameText(const QString &text);

// The same on the UTF-8 bytes of a payload (the marker is ASCII, so the
// pieces are the same): offsets and sizes of the pieces within `data`.
struct RoutingView {
    Kind kind = Kind::Invalid;
    int firstAt = 0, firstSize = 0;
    int secondAt = 0, secondSize = 0;
};
RoutingView splitFrameBytes(const char *data, int size);

// A payload up to its first NUL byte, as the hub reads it.
int payloadSize(const char *data, int size);

// Hub-to-client direction: the text in UTF-8 followed by one NUL byte.
QByteArray replyBytes(const QString &text);

// Cuts the NUL-terminated messages out of `carry` + the new bytes, in order;
// a message cut across reads waits in `carry` for its end.
void takeReplies(QByteArray &carry, const char *data, int size, QList<QByteArray> &messages);

// What the hub writes to a monitor for each text it routes, NUL-terminated
// like every hub-to-client message: kind, time, sender, receivers, count of
// deliveries and the text, joined by the marker (identifiers never hold it).
// Receivers of a publish or broadcast are listed with commas.
struct MonitorRecord {
    QString kind;           // "directed", "broadcast", "publish", "subscribe",
                            // "unsubscribe", or "lost" (text: how many)
    qint64 timeUs = 0;      // microseconds since the epoch, at routing
    QString from;
    QStringList to;
    int delivered = 0;
    QByteArray text;
};
QByteArray monitorRecord(const char *kind, qint64 timeUs, const QByteArray &from, const QByteArray &to,
                         int delivered, const char *text, int textSize);
// Parses a monitor record (without its NUL); false when it is not one.
bool parseMonitorRecord(const QByteArray &bytes, MonitorRecord &record);

} // namespace ZQWire

#endif // ZQWIRE_H
