#ifndef ZQTBUSINESSSHORTCUT_H
#define ZQTBUSINESSSHORTCUT_H

#include "izqbusiness.h"

#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QVariant>

class QTimer;

// The panel's own keys, pen keys and gestures (board frames E3 xx) and the
// small state the applications and the board share about them: the pen
// attributes, the applications that take page keys as gestures, and the
// screen information the board reports. Decodes its frames by position.
//
// Frames are handled on the serial work thread and messages on the IPC work
// thread, so the shared state is guarded; the timers run on the main thread.
class ZQTbusinessShortCut : public QObject, public IZQBusiness
{
    Q_OBJECT
public:
    explicit ZQTbusinessShortCut(QObject* parent);

    void init() override;
    QObject* getObject() override;
    QJsonObject messageStrToJson(QString message) override;
    bool isCanDealMessage(QJsonObject message) override;
    QByteArray DealMessage(QJsonObject message) override;
    void Send(QByteArray frame) override;
    bool isCanDealCommand(QByteArray frame, QByteArray& key) override;
    QJsonObject DealCommand(QByteArray frame, QByteArray key) override;
    void Send(QJsonObject message) override;
    // Asks the board for its screen information from the start (the
    // requests of init() went nowhere while there was no link, and a board
    // that came back may be another one).
    void linkUp() override;

    QByteArray setMsgTopAppAndToByteArray(QMap<QString, QVariant> message, QString app);

    static const int kHeartMs = 5000;
    static const int kInfoMs = 1500;

signals:
    void sigSendLocal(QString local);
    void sigSendMessage(QString msg);
    void sigSendCommend(QByteArray cmd);
    void sigShowDialog(int type, double x, double y);
    void sigShowToolBox(int type, double x, double y);

public slots:
    void slotHeartTimer();
    void slotInfoTimer();

private:
    QJsonObject frameMessage(const QString& event, const QString& to, const QJsonValue& param) const;
    QByteArray reply(const QJsonObject& request, const QJsonValue& param) const;
    QByteArray routeKey(const QJsonObject& message);
    void restartHeartTimer();

    QList<QString> m_subscribers;
    QMap<int, QString> m_localOperations;
    QMap<QString, QString> m_screenInfo;
    QByteArray m_penAttributes; // Base64 text
    QTimer* m_heartTimer = nullptr;
    QTimer* m_infoTimer = nullptr;
    int m_infoRequests = 0;
    mutable QMutex m_mutex; // guards subscribers, screen information, pen attributes, request count
};

#endif // ZQTBUSINESSSHORTCUT_H
