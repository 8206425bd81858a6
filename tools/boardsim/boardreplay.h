#ifndef BOARDREPLAY_H
#define BOARDREPLAY_H

#include "boardsim.h"
#include "zqserialcapture.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>

class QTimer;

// Plays the board's side of a serial capture (ZQSerialCapture, written by
// velacenter --capture) back to the PC: the simulator answers the handshake
// itself, and once the link is up every frame the captured board sent after
// its link came up goes out at the same time after the link as then (or
// `speed` times faster). Only the first link of the capture is played: a
// capture that goes on after a lost link is played up to the loss.
//
// With `compare`, the frames the PC sends after the link came up are held
// against those of the capture; at the end (the capture's last frame, then
// `graceMs`) every difference is printed as a DIFF line and finished() tells
// how many there were.
class BoardReplay : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        double speed = 1.0;
        bool compare = false;
        QList<QByteArray> ignore; // command-byte prefixes left out of the comparison
        int graceMs = 2000;
    };

    // A frame of the capture the PC did not send (got empty), a frame the PC
    // sent that the capture does not have (expected empty, captureLine the
    // capture line it came after, 0 before the first), or one in place of
    // the other.
    struct Difference
    {
        int captureLine = 0;
        QByteArray expected;
        QByteArray got;
    };

    BoardReplay(BoardSim *sim, const ZQSerialCapture::Parsed &capture, const Options &options,
                QObject *parent = nullptr);

    // How the captured board answered the handshake: v2 when it answered the
    // heart frame, v1 when only the test frame, v2 when the capture shows
    // neither.
    static BoardSim::Mode modeOf(const ZQSerialCapture::Parsed &capture);

    // Differences between the capture's frames and those sent, in order;
    // after a difference the two are brought in step again at the nearest
    // frame both have (looking up to 64 frames ahead).
    static QList<Difference> compare(const QList<ZQSerialCapture::Entry> &expected,
                                     const QList<QByteArray> &got);

    int boardFrames() const { return m_toPlay.size(); }

signals:
    // The replay and its grace time are over; the number of differences
    // (0 without compare).
    void finished(int differences);

private:
    bool ignored(const QByteArray &frame) const;
    void onLinkChanged(bool up);
    void onFrameFromPc(const QByteArray &frame);
    void playDue();
    void finish();

    BoardSim *m_sim;
    Options m_options;
    QList<ZQSerialCapture::Entry> m_toPlay;   // the board's frames of the played link
    QList<ZQSerialCapture::Entry> m_expected; // the PC's frames of the played link
    qint64 m_anchorMs = 0;                    // capture time of the link coming up
    qint64 m_endMs = 0;                       // capture time of the last frame played
    QList<QByteArray> m_got;
    QElapsedTimer m_clock;
    QTimer *m_timer;
    int m_next = 0;
    bool m_started = false;
    bool m_done = false;
};

#endif
