#include "zqwire.h"

#include <cstring>

namespace ZQWire {

const char kMarker[] = "Z&&Q";
const char kKindSubscribe[] = "ZQ&&REG";
const char kKindUnsubscribe[] = "ZQ&&DEL";
const char kKindBroadcast[] = "ZQ&&ALL";
const char kKindDirected[] = "ZQ&&GIV";
const char kTargetAll[] = "ID_ALL";
const char kTargetRaw[] = "ID_NULL";
const char kHelloReply[] = "succeful";

namespace {
constexpr int kMarkerSize = sizeof(kMarker) - 1;

QString joined(const char *kind, const QString &a, const QString &b)
{
    QString text;
    text.reserve(int(std::strlen(kind)) + 2 * kMarkerSize + a.size() + b.size());
    text += QLatin1String(kind);
    text += QLatin1String(kMarker);
    text += a;
    text += QLatin1String(kMarker);
    text += b;
    return text;
}

qint32 readLength(const char *at)
{
    qint32 n;
    std::memcpy(&n, at, sizeof n);   // host byte order, unaligned-safe
    return n;
}

// Parses frames out of one contiguous block; returns the bytes consumed.
int parseBlock(const char *data, int size, QList<QByteArray> &payloads, ParseStatus &status)
{
    int index = 0;
    while (size - index >= kLengthSize) {
        const qint32 n = readLength(data + index);
        if (n < 0 || n > kMaxPayload) {
            status = ParseStatus::BadLength;
            return index;
        }
        if (size - index - kLengthSize < n)
            break;
        payloads.append(QByteArray(data + index + kLengthSize, n));
        index += kLengthSize + n;
    }
    return index;
}
} // namespace

QString frameText(const QString &ownId, const QString &target, const QString &message)
{
    if (target.isEmpty()) {
        QString text;
        text.reserve(ownId.size() + kMarkerSize + message.size());
        text += ownId;
        text += QLatin1String(kMarker);
        text += message;
        return text;
    }
    if (target == QLatin1String(kTargetAll))
        return joined(kKindBroadcast, ownId, message);
    if (target == QLatin1String(kTargetRaw))
        return message;
    return joined(kKindDirected, target, message);
}

bool appendFrame(QByteArray &out, const QByteArray &payload)
{
    if (payload.size() > kMaxPayload)
        return false;
    const qint32 n = payload.size();
    out.append(reinterpret_cast<const char *>(&n), kLengthSize);
    out.append(payload);
    return true;
}

ParseStatus takeFrames(QByteArray &carry, const char *data, int size, QList<QByteArray> &payloads)
{
    ParseStatus status = ParseStatus::Ok;
    if (size < 0)
        size = 0;
    if (carry.isEmpty()) {
        // Common case: parse straight from the read buffer, keep only a tail.
        const int used = parseBlock(data, size, payloads, status);
        if (status == ParseStatus::Ok && used < size)
            carry = QByteArray(data + used, size - used);
        return status;
    }
    carry.append(data, size);
    const int used = parseBlock(carry.constData(), carry.size(), payloads, status);
    if (status == ParseStatus::Ok)
        carry.remove(0, used);
    return status;
}

QString payloadText(const QByteArray &payload)
{
    const int nul = payload.indexOf('\0');
    return QString::fromUtf8(payload.constData(), nul < 0 ? payload.size() : nul);
}

Routing splitFrameText(const QString &text)
{
    Routing r;
    const QLatin1String marker(kMarker);
    const int m1 = text.indexOf(marker);
    if (m1 < 0)
        return r;   // not even a publish: nothing to act on
    const QStringRef head = text.leftRef(m1);
    Kind kind = Kind::Publish;
    if (head == QLatin1String(kKindSubscribe))
        kind = Kind::Subscribe;
    else if (head == QLatin1String(kKindUnsubscribe))
        kind = Kind::Unsubscribe;
    else if (head == QLatin1String(kKindBroadcast))
        kind = Kind::Broadcast;
    else if (head == QLatin1String(kKindDirected))
        kind = Kind::Directed;

    if (kind == Kind::Publish) {
        r.kind = kind;
        r.first = head.toString();
        r.second = text.mid(m1 + kMarkerSize);
        return r;
    }
    const int start1 = m1 + kMarkerSize;
    const int m2 = text.indexOf(marker, start1);
    if (m2 < 0)
        return r;   // a kind word with only one piece behind it
    r.kind = kind;
    r.first = text.mid(start1, m2 - start1);
    const int start2 = m2 + kMarkerSize;
    if (kind == Kind::Subscribe || kind == Kind::Unsubscribe) {
        // Identifiers never hold the marker; anything behind a third one is unused.
        const int m3 = text.indexOf(marker, start2);
        r.second = m3 < 0 ? text.mid(start2) : text.mid(start2, m3 - start2);
    } else {
        r.second = text.mid(start2);
    }
    return r;
}

QByteArray replyBytes(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.append('\0');
    return bytes;
}

void takeReplies(QByteArray &carry, const char *data, int size, QList<QByteArray> &messages)
{
    int start = 0;
    while (start < size) {
        const void *hit = std::memchr(data + start, '\0', size_t(size - start));
        if (!hit)
            break;
        const int end = int(static_cast<const char *>(hit) - data);
        if (carry.isEmpty()) {
            messages.append(QByteArray(data + start, end - start));
        } else {
            carry.append(data + start, end - start);
            messages.append(carry);
            carry.clear();
        }
        start = end + 1;
    }
    if (start < size)
        carry.append(data + start, size - start);
}

} // namespace ZQWire
