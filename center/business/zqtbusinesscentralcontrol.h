#ifndef ZQTBUSINESSCENTRALCONTROL_H
#define ZQTBUSINESSCENTRALCONTROL_H

#include "zqtbusiness.h"

#include <QElapsedTimer>
#include <QMap>
#include <QMutex>
#include <QStringList>

class QTimer;

// The central-control application's module, by "control.xml" and a set of
// requests and replies handled in code. A request may carry an "id": the
// module remembers the reply key it waits for, and the board's reply goes
// back to "ControlCenter" with the same "id". A request that gets no reply
// within the request time-out is answered with a failure reply.
class ZQTbusinessCentralControl : public ZQTbusiness
{
    Q_OBJECT
public:
    ZQTbusinessCentralControl(DvScreen* screen, QObject* parent);

    void init() override;
    bool isCanDealMessage(QJsonObject message) override;
    QByteArray DealMessage(QJsonObject message) override;
    bool isCanDealCommand(QByteArray frame, QByteArray& key) override;
    QJsonObject DealCommand(QByteArray frame, QByteArray key) override;
    void Send(QJsonObject message) override;
    using ZQTbusiness::Send;

    // 60 s; the environment variable VELA_CONTROL_REQUEST_TIMEOUT_MS shortens
    // it for tests.
    static int requestTimeoutMs();
    // The error-report frame: F4 FF and one mapped byte per reported error.
    QByteArray errorInfoFrame(const QJsonArray& param) const;
    // Ids still waiting for their reply.
    QStringList pendingIds() const;

public slots:
    void slotResultFailer();

private:
    struct Pending
    {
        QByteArray key;
        QElapsedTimer age;
    };

    void armRequestTimer();

    QMap<int, char> m_errorCodes;
    QMap<QString, Pending> m_pending;
    QString m_replyId;
    QTimer* m_requestTimer = nullptr; // main thread only
    mutable QMutex m_mutex;           // guards m_pending and m_replyId
};

#endif // ZQTBUSINESSCENTRALCONTROL_H
