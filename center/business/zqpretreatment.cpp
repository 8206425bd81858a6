#include "zqpretreatment.h"

#include "businesslogging.h"
#include "zqboardframe.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QHash>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QtEndian>

#include <signal.h>
#include <unistd.h>

namespace {

// The presence reply: A9 A0, "#getOpsState" and 0x96, without a sum byte.
const char kPresenceReply[] = "\xA9\xA0#getOpsState\x96";

// The capability block the board expects from this PC model.
const char kCapabilityBlock[] = "\x43\x07\x00\x00\x23\x00\x00\x00\x23\x00\x00\x00";

constexpr int kMaxBoardNameBytes = 16;
constexpr int kMaxProcessorBytes = 48;

// A child in a process group of its own, so that a hanging pipeline can be
// killed with everything in it, not only the shell in front.
class GroupProcess : public QProcess
{
protected:
    void setupChildProcess() override { ::setpgid(0, 0); }
};

QByteArray littleEndian32(qint64 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(quint32(value), bytes.data());
    return bytes;
}

} // namespace

ZQPretreatment::ZQPretreatment(QObject* parent)
    : QObject(parent)
{
}

void ZQPretreatment::init()
{
    // Tells the board that the PC side is here.
    emit sigSendCmd(ZQBoardFrame::build({0x01, 0x8A}));
}

QObject* ZQPretreatment::getObject()
{
    return this;
}

QJsonObject ZQPretreatment::messageStrToJson(QString)
{
    return QJsonObject();
}

bool ZQPretreatment::isCanDealMessage(QJsonObject)
{
    return false;
}

QByteArray ZQPretreatment::DealMessage(QJsonObject)
{
    return QByteArray();
}

void ZQPretreatment::Send(QByteArray)
{
}

bool ZQPretreatment::isCanDealCommand(QByteArray frame, QByteArray&)
{
    if (frame.size() < 10)
        return false;
    const quint8 b8 = quint8(frame.at(8));
    const quint8 b9 = quint8(frame.at(9));
    if (b8 == 0x01)
        return b9 == 0x8A;
    return b8 == 0xA0
           && (b9 == 0xA2 || b9 == 0xA4 || b9 == 0xA6 || b9 == 0xA8 || b9 == 0xAA || b9 == 0xAC);
}

QJsonObject ZQPretreatment::DealCommand(QByteArray frame, QByteArray)
{
    QByteArray reply;
    if (frame.size() >= 10)
        reply = buildReply(quint8(frame.at(8)), quint8(frame.at(9)),
                           [this](const QString& key) { return readHardWareInfo(key); });
    QJsonArray param;
    for (char byte : qAsConst(reply)) {
        QJsonObject value;
        value.insert(QStringLiteral("value"), int(qint8(byte)));
        param.append(value);
    }
    QJsonObject json;
    json.insert(QStringLiteral("param"), param);
    return json;
}

void ZQPretreatment::Send(QJsonObject reply)
{
    QByteArray frame;
    const QJsonArray param = reply.value(QStringLiteral("param")).toArray();
    for (const QJsonValue& v : param)
        frame.append(char(v.toObject().value(QStringLiteral("value")).toInt()));
    // No reply (a refused one): nothing for the board.
    if (!frame.isEmpty())
        emit sigSendCmd(frame);
}

QByteArray ZQPretreatment::replyFrame(quint8 command, const QByteArray& data)
{
    QByteArray body;
    body.reserve(data.size() + 4);
    body.append(char(0xA0)).append(char(command)).append('\0').append(data);
    // Offsets 1 to 7 with 0xFF in place of the length byte, then the body.
    unsigned sum = 0xFF + 0x99 + 0xA2 + 0xB3 + 0xC4 + 0x02 + 0xFF;
    for (char byte : qAsConst(body))
        sum += quint8(byte);
    body.append(char(sum & 0xFF));
    const QByteArray frame = ZQBoardFrame::build(body);
    if (frame.isEmpty())
        qCWarning(lcPretreatment) << "hardware reply" << QByteArray(1, char(command)).toHex().toUpper() << "of"
                   << data.size() << "data bytes does not fit one frame; not sent";
    return frame;
}

QByteArray ZQPretreatment::buildReply(quint8 byte8, quint8 byte9,
                                      const std::function<QString(const QString&)>& fact)
{
    if (byte8 == 0x01 && byte9 == 0x8A)
        return ZQBoardFrame::build(QByteArray(kPresenceReply, sizeof(kPresenceReply) - 1));
    if (byte8 != 0xA0)
        return QByteArray();

    switch (byte9) {
    case 0xA2: {
        const QString name = fact(QStringLiteral("boardName"));
        qCDebug(lcPretreatment) << "board name" << name;
        const QByteArray reply = replyFrame(0xA3, name.toUtf8().left(kMaxBoardNameBytes));
        qCDebug(lcPretreatment) << "board name cmd" << reply.toHex(' ').toUpper();
        return reply;
    }
    case 0xA4:
        return replyFrame(0xA5, fact(QStringLiteral("cpuInfo")).toUtf8().left(kMaxProcessorBytes));
    case 0xA6:
        return replyFrame(0xA7, littleEndian32(fact(QStringLiteral("memoryInfo")).toLongLong()));
    case 0xA8: {
        const qint64 size = fact(QStringLiteral("diskCapabilityBylsblk")).toLongLong();
        qCDebug(lcPretreatment) << "wmi_getDriveSize" << size;
        return replyFrame(0xA9, littleEndian32(size) + fact(QStringLiteral("diskSerial")).toUtf8());
    }
    case 0xAA:
        return replyFrame(0xAB, QByteArray(kCapabilityBlock, sizeof(kCapabilityBlock) - 1));
    case 0xAC: {
        const QString sku = fact(QStringLiteral("boardProductSKU"));
        qCDebug(lcPretreatment) << "0xA0AC OPS SERIALS True" << sku;
        return replyFrame(0xAD, sku.toUtf8());
    }
    default:
        return QByteArray();
    }
}

QString ZQPretreatment::commandLine(const QString& key)
{
    static const QHash<QString, QString> lines = {
        {QStringLiteral("cpuInfo"), QStringLiteral("cat /proc/cpuinfo | grep 'model name'|uniq -c")},
        {QStringLiteral("memoryInfo"), QStringLiteral("cat /proc/meminfo | grep MemTotal")},
        {QStringLiteral("diskSerial"),
         QStringLiteral("udevadm info --query=all --name=/dev/sda | grep ID_SERIAL_SHORT")},
        {QStringLiteral("boardProductSKU"), QStringLiteral("cat /sys/devices/virtual/dmi/id/product_sku")},
        {QStringLiteral("boardName"), QStringLiteral("cat /sys/devices/virtual/dmi/id/board_name")},
        {QStringLiteral("diskCapabilityBylsblk"), QStringLiteral("lsblk | grep disk")},
    };
    return lines.value(key);
}

QString ZQPretreatment::readHardWareInfo(QString key)
{
    const QString line = commandLine(key);
    if (line.isEmpty())
        return QString();
    return parseHardWareInfo(key, runCommand(line, kCommandTimeoutMs));
}

QByteArray ZQPretreatment::runCommand(const QString& commandLine, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    const auto remaining = [&deadline]() { return int(qMax<qint64>(0, deadline.remainingTime())); };
    GroupProcess process;
    process.start(QStringLiteral("sh"), {QStringLiteral("-c"), commandLine}, QIODevice::ReadWrite);
    if (!process.waitForStarted(remaining())) {
        qCWarning(lcPretreatment) << "hardware question:" << commandLine << "did not start:" << process.errorString();
        return QByteArray();
    }
    process.closeWriteChannel();
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(remaining())) {
        qCWarning(lcPretreatment) << "hardware question:" << commandLine << "gave no answer within" << timeoutMs
                   << "ms; killed";
        const qint64 pid = process.processId();
        if (pid <= 0 || ::kill(-pid_t(pid), SIGKILL) != 0)
            process.kill();
        process.waitForFinished(1000);
        return QByteArray();
    }
    return process.readAllStandardOutput();
}

QString ZQPretreatment::parseHardWareInfo(const QString& key, const QByteArray& output)
{
    const int zero = output.indexOf('\0');
    QString text = QString::fromLocal8Bit(zero >= 0 ? output.left(zero) : output);
    const QString newline = QStringLiteral("\n");

    if (key == QLatin1String("cpuInfo")) {
        const QStringList parts = text.split(QStringLiteral(": "));
        return parts.size() < 2 ? QString() : QString(parts.at(1)).remove(newline);
    }
    if (key == QLatin1String("memoryInfo")) {
        const QStringList parts = text.split(QLatin1Char(':'));
        if (parts.size() < 2)
            return QString();
        QString value = parts.at(1);
        value.remove(QLatin1Char(' '));
        const QString unit = QStringLiteral("kB\n");
        if (!value.endsWith(unit))
            return QStringLiteral("0");
        value.remove(unit);
        const qint64 kib = qMax<qint64>(0, value.toLongLong());
        // Whole GiB, any fraction counting as one more.
        return QString::number((kib + 1048575) / 1048576);
    }
    if (key == QLatin1String("diskSerial")) {
        const QStringList parts = text.split(QLatin1Char('='));
        return parts.size() < 2 ? QString() : QString(parts.at(1)).remove(newline);
    }
    if (key == QLatin1String("boardProductSKU") || key == QLatin1String("boardName"))
        return text.remove(newline);
    if (key == QLatin1String("diskCapabilityBylsblk")) {
        text.remove(newline);
        // lsblk shows the size in GiB, with a decimal point or comma as the
        // locale has it, or as a whole number ("64G").
        static const QRegularExpression size(QStringLiteral("(\\d+(?:[.,]\\d+)?)G"));
        const QRegularExpressionMatch m = size.match(text);
        const double gib = m.hasMatch() ? m.captured(1).replace(QLatin1Char(','), QLatin1Char('.')).toDouble() : 0.0;
        // The same size in GB, as the board wants it.
        return QString::number(qRound64(gib * 1073741824.0 / 1e9));
    }
    return QString();
}
