#ifndef VELACENTERRIG_H
#define VELACENTERRIG_H

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

class ZQIPC;

// One velacenter installed in a temporary folder, the mainboard simulator on
// a pseudo-terminal as its board, and a bus client of the test that hears
// what the centre publishes. Used by the end-to-end tests and the benchmark.
class VelaCenterRig : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString boardMode = QStringLiteral("v2"); // v1, v2, silent
        QString extraIni;                         // more version.ini text (e.g. a [Log] group)
        QString portName;                         // instead of the simulator's line
        QString boardLink;                        // the simulator's line under this fixed name
        QStringList boardArgs;                    // more arguments for the simulator (e.g. --replay FILE)
        QStringList args;
        bool waitForLink = true;
        bool quietCentre = false; // drop the centre's output instead of keeping it
        // NAME=value entries for the centre's environment. The centre's traces
        // are on (QT_LOGGING_RULES=vela.*.debug=true) unless an entry sets
        // QT_LOGGING_RULES.
        QStringList environment;
        // A folder that already holds velacenter, boardsim, the tables and a
        // version.ini (a file or a link to one), e.g. an unpacked package:
        // both programs run from there, nothing is copied, and only
        // "COM/PortName" is changed in the settings the link leads to
        // (extraIni is not used).
        QString programDir;
    };

    static const QByteArray kStartupFrame4;
    static const char *const kClientId;

    VelaCenterRig();
    ~VelaCenterRig() override;

    // False with error() set when a piece did not come up.
    bool start(const Options &options);
    QString error() const;

    // The link is up once the last start-up frame of the local operator
    // reached the board; by then the centre's own bus client is connected.
    bool waitForLink(int timeoutMs);

    // Board side.
    // Ends the simulator: its pseudo-terminal closes under the centre.
    void stopBoard();
    // A new simulator (a new pseudo-terminal), under `link` when not empty.
    bool startBoardAgain(const QString &mode, const QString &link);
    // Rewrites "COM/PortName" in the centre's settings.
    bool setPortName(const QString &name);
    // Rewrites the settings with other extra text (Options::extraIni), same port.
    bool setExtraIni(const QString &text);
    void boardSend(const QString &line);
    // The simulator's process and every line it printed so far.
    QProcess &board();
    QStringList boardOutput();
    QList<QByteArray> boardReceived() const;
    bool waitBoardReceived(const QByteArray &frame, int timeoutMs, int fromIndex = 0);
    int boardReceivedCount() const;
    // Sends a frame of its own to the board through the centre and waits for
    // it; frames the centre queued before arrive ahead of it. Its index among
    // the received frames, or -1.
    int flushToBoard(int timeoutMs = 10000);
    // The board answers the shortcut module's screen-information request, so
    // its polling (a request every 1.5 s for the first 15 s) stops and stays
    // out of the frames a case counts. False when the polling went on.
    bool answerScreenInfo(int timeoutMs = 5000);

    // Bus side: texts that the centre published, in arrival order.
    QStringList busMessages() const;
    bool waitBusMessage(const std::function<bool(const QJsonObject &)> &match, int timeoutMs,
                        QJsonObject *found = nullptr, int fromIndex = 0);
    int busSend(const QString &target, const QString &text);
    // Ends the rig's own bus client: the centre is left with no client but
    // its own (the soak's idle figure).
    void closeBus();
    int sendToCentre(const QJsonObject &message);

    // SIGTERM, then the same program started again in the same folder.
    bool stopCentre(int timeoutMs);
    bool startCentreAgain();
    QProcess &centre();
    QString centreOutput();
    QString folder() const;
    QString tempFolder() const;
    QString logDir() const;
    // Runs another copy of the installed program with the same environment.
    int runSecondCopy(const QStringList &args, QString *output, int timeoutMs);

    // Base64 of an EVENT_ANY payload and the frame it stands for.
    static QJsonObject eventAny(const QByteArray &payload, const QString &to);
    // Matches the centre's EVENT_ANY message that carries these bytes.
    static std::function<bool(const QJsonObject &)> eventAnyWithParam(const QByteArray &payload);
    static QByteArray frameOf(const QByteArray &payload);

private:
    bool startBoard(const QString &mode, const QString &link);
    bool writeSettings(const QString &portName);
    bool startCentre(const Options &options);
    bool connectBus(int timeoutMs);
    void readBoard();
    QString programPath(const QString &name) const;
    QProcessEnvironment centreEnvironment() const;

    QTemporaryDir m_dir;
    QProcess m_board;
    QProcess m_centre;
    QString m_pty;
    QString m_portName; // last written to the settings
    QByteArray m_boardPartial;
    QList<QByteArray> m_boardRx;
    QStringList m_boardLines;
    QByteArray m_centreOutput;
    ZQIPC *m_bus = nullptr;
    QStringList m_busMessages;
    QString m_error;
    Options m_options;
    QStringList m_environment;
    int m_flushes = 0;
};

#endif // VELACENTERRIG_H
