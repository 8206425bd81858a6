#ifndef IZQBUSINESS_H
#define IZQBUSINESS_H

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class QObject;

// One business module of the control centre. The business manager offers every
// board frame and every bus message to its modules in a fixed order; the first
// module that claims a piece of traffic handles it.
class IZQBusiness
{
public:
    virtual ~IZQBusiness();

    // Loads the module's configuration; called once on the main thread before
    // any traffic is offered.
    virtual void init() = 0;
    // The module as a Qt object, for signal connections.
    virtual QObject* getObject() = 0;

    virtual QJsonObject messageStrToJson(QString message) = 0;
    virtual bool isCanDealMessage(QJsonObject message) = 0;
    // Result: a board frame to send, or empty.
    virtual QByteArray DealMessage(QJsonObject message) = 0;
    virtual void Send(QByteArray frame) = 0;

    // May fill key with the command key it recognised.
    virtual bool isCanDealCommand(QByteArray frame, QByteArray& key) = 0;
    // Result: a bus message to send, or empty.
    virtual QJsonObject DealCommand(QByteArray frame, QByteArray key) = 0;
    virtual void Send(QJsonObject message) = 0;

    // The serial link is up, or back after a loss; a module that asks the
    // board something once asks again here. Called on the caller's thread.
    virtual void linkUp() {}

    // Text form of a bus message: the indented JSON document, as every module
    // of the control centre writes it.
    static QString jsonToMessageText(const QJsonObject& message);
    // The object of a bus message text; empty when the text is not a JSON object.
    static QJsonObject messageTextToJson(const QString& message);
};

#endif // IZQBUSINESS_H
