#ifndef BOARDSIM_H
#define BOARDSIM_H

#include "ptyline.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

class QTimer;

// A stand-in for the display mainboard on a serial line: answers the link
// handshake the way the chosen kind of board does, prints every frame it
// receives, and sends what its command lines say.
//
// Command lines (standard input, script files, scenarios):
//   7F 08 99 A2 B3 C4 02 FF 01 49 CF   raw bytes in hex, written in one go
//   frame E3 05 01                     a whole frame around these command bytes
//   sleep 500                          pause the following lines, in ms
//   wait link                          pause until the PC has brought the link up
//   scenario NAME                      the lines of a named scenario
//   mode v1|v2|silent|v2-heart-only    answer the handshake differently from now on
//   answer-baud N                      answer only while the line runs at N baud (0: any)
//   quit                               end the simulator
//   # ...                              comment
class BoardSim : public QObject
{
    Q_OBJECT
public:
    enum class Mode { V1, V2, Silent, V2HeartOnly };

    BoardSim(PtyLine *line, QObject *parent = nullptr);

    static bool parseMode(const QString &text, Mode *mode);
    static QString modeName(Mode mode);
    // Hex bytes with or without blanks, colons or commas between them.
    static QByteArray parseHex(const QString &text, bool *ok);

    void setMode(Mode mode) { m_mode = mode; }
    Mode mode() const { return m_mode; }
    void setAnswerBaud(int baud) { m_answerBaud = baud; }
    // Queues command lines; they run in order, honouring sleeps and waits.
    void enqueue(const QStringList &lines);
    void note(const QString &text);
    // Writes bytes to the line and prints them as a TX line, with `what` in
    // brackets behind them when not empty.
    void send(const QByteArray &bytes, const QString &what);
    // Prints one output line of this kind ("RX", "TX", "NOTE", ...).
    void print(const QString &kind, const QString &text);
    // The handshake frames of both sides (test, heart, acknowledgement and
    // the board's answers), which the simulator deals with by itself.
    static bool isHandshakeFrame(const QByteArray &frame);

    static const QByteArray TestAnswer;
    static const QByteArray HeartAnswer;

signals:
    void quitRequested();
    // The PC brought the link up (or probes afresh: up is false).
    void linkChanged(bool up);
    // A frame from the PC other than a handshake frame.
    void frameFromPc(QByteArray frame);

private:
    void onReceived(const QByteArray &bytes);
    void handleFrame(const QByteArray &frame, const PtyLine::Settings &line);
    void pump();
    bool execute(const QString &line);
    void setLinkUp(bool up);

    PtyLine *m_line;
    Mode m_mode = Mode::V2;
    int m_answerBaud = 0;
    QByteArray m_buffer;
    QStringList m_pending;
    QElapsedTimer m_clock;
    QTimer *m_sleep;
    QTimer *m_versionOneLink;
    bool m_waitingForLink = false;
    bool m_linkUp = false;
};

#endif
