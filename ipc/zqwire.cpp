#include "zqwire.h"

#include <cstring>

namespace ZQWire {

const char kMarker[] = "Z&&Q";
const char kKindSubscribe[] = "ZQ&&REG";
const char kKindUnsubscribe[] = "ZQ&&DEL";
const char kKindBroadcast[] = "ZQ&&ALL";
const char kKindDirected[] = "ZQ&&GIV";
const char kKindMonitor[] = "ZQ&&MON";
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

// Parses frames out of one contiguous block; returns the bytes consumed.
int parseBlock(const char *data, int size, QList<QByteArray> &payloads, ParseStatus &status)
{
    const int used = completeFrames(data, size, status);
    for (int index = 0; index < used;) {
        const qint32 n = frameLength(data + index);
        payloads.append(QByteArray(data + index + kLengthSize, n));
        index += kLengthSize + n;
    }
    return used;
}
} // namespace

qint32 frameLength(const char *at)
{
    qint32 n;
    std::memcpy(&n, at, sizeof n);   // host byte order, unaligned-safe
    return n;
}

int completeFrames(const char *data, int size, ParseStatus &status)
{
    int index = 0;
    while (size - index >= kLengthSize) {
        const qint32 n = frameLength(data + index);
        if (n < 0 || n > kMaxPayload) {
            status = ParseStatus::BadLength;
            return index;
        }
        if (size - index - kLengthSize < n)
            break;
        index += kLengthSize + n;
    }
    return index;
}

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

int payloadSize(const char *data, int size)
{
    const void *nul = std::memchr(data, '\0', size_t(size));
    return nul ? int(static_cast<const char *>(nul) - data) : size;
}

RoutingView splitFrameBytes(const char *data, int size)
{
    RoutingView r;
    const char *end = data + size;
    const auto find = [end](const char *from) -> const char * {
        const void *hit = memmem(from, size_t(end - from), kMarker, kMarkerSize);
        return static_cast<const char *>(hit);
    };
    const char *m1 = find(data);
    if (!m1)
        return r;   // not even a publish: nothing to act on
    const int headSize = int(m1 - data);
    const auto headIs = [&](const char *word) {
        return headSize == 7 && std::memcmp(data, word, 7) == 0;
    };
    Kind kind = Kind::Publish;
    if (headIs(kKindSubscribe))
        kind = Kind::Subscribe;
    else if (headIs(kKindUnsubscribe))
        kind = Kind::Unsubscribe;
    else if (headIs(kKindBroadcast))
        kind = Kind::Broadcast;
    else if (headIs(kKindDirected))
        kind = Kind::Directed;

    const int start1 = headSize + kMarkerSize;
    if (kind == Kind::Publish) {
        r.kind = kind;
        r.firstSize = headSize;
        r.secondAt = start1;
        r.secondSize = size - start1;
        return r;
    }
    const char *m2 = find(data + start1);
    if (!m2)
        return r;   // a kind word with only one piece behind it
    r.kind = kind;
    r.firstAt = start1;
    r.firstSize = int(m2 - data) - start1;
    r.secondAt = int(m2 - data) + kMarkerSize;
    r.secondSize = size - r.secondAt;
    if (kind == Kind::Subscribe || kind == Kind::Unsubscribe) {
        // Identifiers never hold the marker; anything behind a third one is unused.
        if (const char *m3 = find(data + r.secondAt))
            r.secondSize = int(m3 - data) - r.secondAt;
    }
    return r;
}

Routing splitFrameText(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const RoutingView v = splitFrameBytes(bytes.constData(), bytes.size());
    Routing r;
    r.kind = v.kind;
    if (v.kind == Kind::Invalid)
        return r;
    r.first = QString::fromUtf8(bytes.constData() + v.firstAt, v.firstSize);
    r.second = QString::fromUtf8(bytes.constData() + v.secondAt, v.secondSize);
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

QByteArray monitorRecord(const char *kind, qint64 timeUs, const QByteArray &from, const QByteArray &to,
                         int delivered, const char *text, int textSize)
{
    const QByteArray time = QByteArray::number(timeUs);
    const QByteArray count = QByteArray::number(delivered);
    QByteArray out;
    out.reserve(int(std::strlen(kind)) + time.size() + from.size() + to.size() + count.size() + 5 * kMarkerSize
                + textSize + 1);
    out.append(kind).append(kMarker, kMarkerSize).append(time).append(kMarker, kMarkerSize);
    out.append(from).append(kMarker, kMarkerSize).append(to).append(kMarker, kMarkerSize);
    out.append(count).append(kMarker, kMarkerSize).append(text, textSize).append('\0');
    return out;
}

bool parseMonitorRecord(const QByteArray &bytes, MonitorRecord &record)
{
    int at = 0;
    QByteArray pieces[5];
    for (QByteArray &piece : pieces) {
        const int m = bytes.indexOf(kMarker, at);
        if (m < 0)
            return false;
        piece = bytes.mid(at, m - at);
        at = m + kMarkerSize;
    }
    bool okTime = false, okCount = false;
    record.kind = QString::fromUtf8(pieces[0]);
    record.timeUs = pieces[1].toLongLong(&okTime);
    record.from = QString::fromUtf8(pieces[2]);
    record.to = pieces[3].isEmpty() ? QStringList() : QString::fromUtf8(pieces[3]).split(QLatin1Char(','));
    record.delivered = pieces[4].toInt(&okCount);
    record.text = bytes.mid(at);
    return okTime && okCount && !record.kind.isEmpty();
}

} // namespace ZQWire
