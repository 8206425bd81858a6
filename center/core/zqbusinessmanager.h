#ifndef ZQBUSINESSMANAGER_H
#define ZQBUSINESSMANAGER_H

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

class DvScreen;
class IZQBusiness;

// Owns the ordered list of business modules and offers them every board frame
// and every bus message; the first module that claims a piece of traffic
// handles it, and what nobody claims passes through as "EVENT_ANY".
//
// DealCommand runs on the serial work thread and DealMessage on the IPC work
// thread, possibly at once. The list is fixed after construction and only read
// there, so no lock is taken. Module signals reach the manager's signals by
// direct relays, so a signal emitted on a work thread leaves the manager on
// that thread and crosses to the main thread once, in the order it was sent.
class ZQBusinessManager : public QObject
{
    Q_OBJECT
public:
    explicit ZQBusinessManager(QObject* parent);
    ~ZQBusinessManager() override;

    // init() of every module in list order (loads the command tables).
    void init();
    void DealCommand(QByteArray frame);
    void DealMessage(QString message);
    // The serial link is up, or back after a loss: every module hears it, on
    // the caller's thread.
    void linkUp();

    // The module that claims a frame (first in the order), with the key it
    // recognised; null when none does. Asking has no effect on the modules.
    IZQBusiness* commandModule(const QByteArray& frame, QByteArray& key) const;
    // The module that claims a bus message, with the object it parsed; null
    // when none does.
    IZQBusiness* messageModule(const QString& message, QJsonObject& json) const;

    QList<IZQBusiness*> modules() const;
    DvScreen* screen() const;

    // Puts a module into the list at index (appends when index is out of
    // range), takes it as a Qt child and connects its relays. Only before any
    // traffic: the list is read without a lock.
    void insertModule(int index, IZQBusiness* module);
    void addModule(IZQBusiness* module);

    // The pass-through message for a frame that no module claims.
    static QJsonObject passThroughMessage(const QByteArray& frame);
    // The frame for an unclaimed "EVENT_ANY" message; empty when the message
    // is not one, or its payload is empty or does not fit a frame.
    static QByteArray passThroughFrame(const QJsonObject& message);

signals:
    void sigSendCommand(QByteArray cmd);
    void sigSendMessage(QString msg);
    void sigSendLocal(QString local);
    void sigShowDialog(int type, double x, double y);
    void sigShowToolBox(int type, double x, double y);

private:
    QList<IZQBusiness*> m_modules;
    DvScreen* m_screen;
};

#endif // ZQBUSINESSMANAGER_H
