#ifndef ZQTBUSINESSDISC_H
#define ZQTBUSINESSDISC_H

#include "zqtbusiness.h"

#include <QList>
#include <QMap>
#include <QThreadPool>

#include <atomic>
#include <mutex>

// The whiteboard side of the suite, by "DiscCommand.xml": pen colour and width
// from the panel go to the application in front, pen-property changes of an
// application go to the board, and a set of board events become local
// operations of the centre.
//
// A board event for the application in front waits for the answer to "which
// application is in front" (up to a second) on a thread of the module's own,
// so the frames after it are not held up; what the events become is handed
// on in the order the events came.
class ZQTbusinessDisc : public ZQTbusiness
{
    Q_OBJECT
public:
    ZQTbusinessDisc(DvScreen* screen, QObject* parent);
    ~ZQTbusinessDisc() override;

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
    // Whether a board event is a local operation; may ask which program runs
    // or is in front, so it blocks.
    bool isLocalMsg(QJsonObject message);
    // The board event addressed to the application in front, or empty when
    // none is; blocks while it asks.
    QJsonObject addressedToFront(QJsonObject message);

    // Blocks until every board event given to Send() so far has been handed
    // on; for a tool that runs the module outside the centre and reads what
    // it sends.
    void waitForHandedOn();

    // The whiteboard program as the process check can find it.
    static const char* const kWhiteBoardProcess;
    // Board events waiting for their answer at the same time, at most.
    static const int kMaxAsking = 16;

private:
    // What one board event becomes: a local operation, a message for the
    // application in front, or (both empty) nothing.
    struct Outcome {
        QString local;
        QJsonObject message;
    };
    Outcome outcomeOf(const QJsonObject& message);
    static QString localName(const QJsonObject& message);
    // Hands on the outcome of the event with this ticket once every earlier
    // event's outcome has been handed on.
    void handOn(quint64 ticket, const Outcome& outcome);

    QThreadPool m_askers;
    std::mutex m_orderMutex;   // guards the four fields below (a standard mutex:
                               // ThreadSanitizer sees through it)
    quint64 m_nextTicket = 0;
    quint64 m_nextHandOn = 0;
    QMap<quint64, Outcome> m_ready;
    bool m_handingOn = false;  // one thread hands on at a time, in order
    std::atomic<bool> m_closing{false};
};

#endif // ZQTBUSINESSDISC_H
