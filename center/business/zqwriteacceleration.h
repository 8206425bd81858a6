#ifndef ZQWRITEACCELERATION_H
#define ZQWRITEACCELERATION_H

#include "zqtbusiness.h"

// The control centre's side of stroke acceleration. A board command that
// begins with 0xE0 (the marker request E0 11 carries a colour) goes to the
// stroke-acceleration agent as an "ID_INKDRAW" message with the command bytes
// as hex text in "param"; the agent's answer, a board frame as hex text in
// "property", goes back to the board.
class ZQWriteAcceleration : public ZQTbusiness
{
    Q_OBJECT
public:
    ZQWriteAcceleration(DvScreen* screen, QObject* parent);

    void init() override;
    bool isCanDealCommand(QByteArray frame, QByteArray& key) override;
    QJsonObject DealCommand(QByteArray frame, QByteArray key) override;
    bool isCanDealMessage(QJsonObject message) override;
    QByteArray DealMessage(QJsonObject message) override;

    // Two hex digits per byte; a pair that is not hex gives 0.
    static QByteArray fromHexPairs(const QString& text);
};

#endif // ZQWRITEACCELERATION_H
