#ifndef ZQTBUSINESSDISC_H
#define ZQTBUSINESSDISC_H

#include "zqtbusiness.h"

#include <QList>

// The whiteboard side of the suite, by "DiscCommand.xml": pen colour and width
// from the panel go to the application in front, pen-property changes of an
// application go to the board, and a set of board events become local
// operations of the centre.
class ZQTbusinessDisc : public ZQTbusiness
{
    Q_OBJECT
public:
    ZQTbusinessDisc(DvScreen* screen, QObject* parent);

    void init() override;
    bool isCanDealMessage(QJsonObject message) override;
    QByteArray DealMessage(QJsonObject message) override;
    void Send(QJsonObject message) override;
    using ZQTbusiness::Send;

    // An application's pen-property message in the table's form; any other
    // message unchanged.
    QJsonObject WhiteBoardToCenterMsg(QJsonObject message);
    // The table messages a message stands for: one, or two for a pen change
    // that carries both "Color" and "Width" (each goes through its own event).
    QList<QJsonObject> tableMessages(const QJsonObject& message);
    bool isLocalMsg(QJsonObject message);
    void sendMessage(QJsonObject message);

    // The whiteboard program as the process check can find it.
    static const char* const kWhiteBoardProcess;
};

#endif // ZQTBUSINESSDISC_H
