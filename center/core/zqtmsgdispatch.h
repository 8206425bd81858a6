// The two roads through velacenter, both passing this hub on the main thread:
//
// board -> bus
//   serial reader thread (libserialhub) --onReturnMessage--> slotReciveCommand
//   (parts of a multi-frame message joined into one frame)
//   --> ZQSerialPortReciveQueue --> serial work thread (ZQSerialPortThread)
//   --> ZQBusinessManager::DealCommand --> first module that claims the frame,
//       else "EVENT_ANY" --sigSendMessage--> slotSendIpcMessage --> ZQIPC --> bus
//
// bus -> board
//   ZQIPC --sigRecvInfo--> slotReciveMessage --> ZQIpcRciveQueue
//   --> IPC work thread (ZQIpcThread) --> ZQBusinessManager::DealMessage
//   --> first module that claims the message (or "EVENT_ANY")
//   --sigSendCommand--> slotSendCommand (split into part frames on version 2)
//   --> serial writer thread (libserialhub) --> board
//
// Module requests for the PC itself (sigSendLocal, dialogs, toolbox) go to the
// local operator, which answers on the bus or with frames the same ways.

#ifndef ZQTMSGDISPATCH_H
#define ZQTMSGDISPATCH_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

class IZQMessageManager;
class QTimer;
class ZQBusinessManager;
class ZQIPC;
class ZQIpcThread;
class ZQLocalOperatoer;
class ZQMessageManager;
class ZQSerialPortThread;

// The hub of velacenter: wires the serial link, the bus, the business modules
// and the local operator, runs the link start-up, and splits and joins
// multi-frame messages of link version 2.
class ZQTMsgDispatch : public QObject
{
    Q_OBJECT
public:
    static constexpr int kReCheckMs = 180000;
    static constexpr int kPartDataBytes = 21;    // data bytes per part frame
    static constexpr int kMaxUnsplitBytes = 32;  // longer commands are split on version 2
    static constexpr int kMaxPendingMessages = 64;
    // How long one wait on a full serial queue lasts before the hub looks
    // whether the program is being stopped.
    static constexpr int kSendWaitSliceMs = 50;

    // "Bus/ListenAll" = 1 in version.ini opens the bus hub to every address
    // of the panel; otherwise only programs of the panel itself reach it.
    static bool busListensOnAllAddresses();

    // Commands kept for the board while the link is down; older ones go first.
    static constexpr int kMaxKeptCommands = 100;

    // Wait before the n-th search (from 0) for a lost port: 1 s, 2 s, 4 s,
    // then every 10 s.
    static int healDelayMs(int attempt);

    explicit ZQTMsgDispatch(QObject *parent = nullptr);
    ~ZQTMsgDispatch() override;

    void init();

    // Writes every frame on the serial line to `path` (see ZQSerialCapture);
    // velacenter's --capture option. False when the file cannot be made.
    bool setCaptureFile(const QString &path);

    // Stops both work threads and joins them. Idempotent; the destructor calls it.
    void stopWorkers();

    // The part frames of one command (header, count, index, serial byte, both
    // command bytes, up to 21 data bytes, end byte).
    static QList<QByteArray> splitCommand(const QByteArray &command, int serial);

    // The single frame that modules receive for a joined multi-frame message.
    static QByteArray joinedFrame(char commandByte1, char commandByte2, const QByteArray &data);

    static int nextSplitSerial(int serial);

public slots:
    void slotStartDeal(int version);
    void slotSerialPortError();
    void slotReCheckPort();
    void slotVersionChage(int version);
    void slotReciveMessage(QString message);
    void slotSendIpcMessage(QString message);
    void slotSendCommand(QByteArray command);
    void slotReciveCommand(QByteArray frame);
    // The linked port went away: close it and look for it again.
    void slotSerialPortLost();
    void slotHealCheck();

private:
    // False when the frame was not queued: the program stops, or the writer
    // lost its line.
    bool writeToBoard(const QByteArray &frame, const QByteArray &whole);
    void startBoardDriver();
    void keepForBoard(const QByteArray &command);
    void linkBack(int version);
    // Publishes "SERIAL_LINK_STATE": whether the board's link is up, and its
    // version, for programs that watch the panel (the fleet bridge).
    void publishLinkState();

    struct package
    {
        int serialNo = 0;
        int commandByte2 = 0;
        int commandByte1 = 0;
        int packetCount = 0;
        int receivedCount = 0;
        QMap<int, QByteArray> parts;
    };

    ZQIPC *m_ipc = nullptr;
    ZQIpcThread *m_ipcThread = nullptr;
    ZQSerialPortThread *m_serialThread = nullptr;
    IZQMessageManager *m_serial = nullptr;
    ZQMessageManager *m_serialManager = nullptr; // the same object
    ZQLocalOperatoer *m_local = nullptr;
    ZQBusinessManager *m_business = nullptr;
    int m_recvCount = 0;
    int m_version = 1;
    int m_splitSerial = 0;
    QTimer *m_reCheckTimer = nullptr;
    QList<package> m_pending;
    bool m_linkUp = false;     // the link came up once: wiring and bus client exist
    bool m_linkDown = false;   // lost after coming up, not back yet
    bool m_driverStarted = false;
    QTimer *m_healTimer = nullptr;
    int m_healAttempt = 0;
    QList<QByteArray> m_kept;  // commands for the board while the link is down
    int m_keptDropped = 0;
    bool m_workersStopped = false;
    int m_droppedAtStop = 0;
};

#endif // ZQTMSGDISPATCH_H
