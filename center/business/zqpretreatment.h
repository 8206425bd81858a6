#ifndef ZQPRETREATMENT_H
#define ZQPRETREATMENT_H

#include "izqbusiness.h"

#include <QObject>

#include <functional>

// Answers the mainboard's questions about the PC it is built into: presence,
// board name, processor, memory, disk, capability block and product SKU.
// The facts are read from the system at the moment of each question.
//
// The questions are handled on the serial work thread, and every board frame
// behind one waits for its answer, so each system command is bounded by
// kCommandTimeoutMs; a tool that hangs is killed together with its children
// and its fact is taken as empty. The command lines are fixed texts: nothing
// from a frame reaches the shell.
class ZQPretreatment : public QObject, public IZQBusiness
{
    Q_OBJECT
public:
    explicit ZQPretreatment(QObject* parent = nullptr);

    // Per system command; the disk answer runs two commands.
    static constexpr int kCommandTimeoutMs = 1500;

    void init() override;
    QObject* getObject() override;
    QJsonObject messageStrToJson(QString message) override;
    bool isCanDealMessage(QJsonObject message) override;
    QByteArray DealMessage(QJsonObject message) override;
    void Send(QByteArray frame) override;
    bool isCanDealCommand(QByteArray frame, QByteArray& key) override;
    QJsonObject DealCommand(QByteArray frame, QByteArray key) override;
    void Send(QJsonObject reply) override;

    // One fact of the system as text: "boardName", "cpuInfo", "memoryInfo",
    // "diskCapabilityBylsblk", "diskSerial", "boardProductSKU"; any other key
    // gives an empty text.
    QString readHardWareInfo(QString key);

    // The fixed command line behind a key; empty for an unknown key.
    static QString commandLine(const QString& key);
    // The fact for a key from its command's raw standard output.
    static QString parseHardWareInfo(const QString& key, const QByteArray& output);
    // The whole reply frame for the question (offset 8, offset 9), the facts
    // taken from `fact`; empty for a pair that is not a question or a reply
    // too long for one frame.
    static QByteArray buildReply(quint8 byte8, quint8 byte9,
                                 const std::function<QString(const QString&)>& fact);
    // Reply frame 7F L 99 A2 B3 C4 02 FF A0 command 00 data sum CF; the sum
    // byte counts 0xFF in place of the length byte. Empty when too long.
    static QByteArray replyFrame(quint8 command, const QByteArray& data);
    // Standard output of `sh -c commandLine`; empty when the command does not
    // end within timeoutMs (it is then killed with everything it started).
    static QByteArray runCommand(const QString& commandLine, int timeoutMs);

signals:
    void sigSendCmd(QByteArray cmd);
};

#endif // ZQPRETREATMENT_H
