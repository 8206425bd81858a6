#ifndef ZQBUSINESSCUSTOMCHANNEL_H
#define ZQBUSINESSCUSTOMCHANNEL_H

#include "izqbusiness.h"

#include <QObject>

// Transparent tunnels between the mainboard and three applications, one
// command byte each. The payload is opaque here: Base64 text in the "param"
// of a bus message, raw bytes after the command byte in a board frame.
//
//   0xE1 "VELABRIDGE_CHANNEL"  board <-> "ID_APP_VELABRIDGE"
//   0xE2 "ID_OPEX_MGR"         board <-> "ID_APP_VELAPCMANAGER"
//   0xE4 "ID_DISC_COORDINATE"  applications -> board only
//   0xE5 "ID_SET_COOR"         board <-> "ID_APP_SET_SERVER"
class ZQBusinessCustomChannel : public QObject, public IZQBusiness
{
    Q_OBJECT
public:
    explicit ZQBusinessCustomChannel(QObject* parent = nullptr);

    void init() override;
    QObject* getObject() override;
    QJsonObject messageStrToJson(QString message) override;
    bool isCanDealMessage(QJsonObject message) override;
    QByteArray DealMessage(QJsonObject message) override;
    void Send(QByteArray frame) override;
    bool isCanDealCommand(QByteArray frame, QByteArray& key) override;
    QJsonObject DealCommand(QByteArray frame, QByteArray key) override;
    void Send(QJsonObject message) override;

signals:
    void sigSendMessage(QString msg);
    void sigSendCommend(QByteArray cmd);
};

#endif // ZQBUSINESSCUSTOMCHANNEL_H
