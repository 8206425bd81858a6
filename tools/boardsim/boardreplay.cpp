#include "boardreplay.h"

#include "zqframescan.h"

#include <QTimer>

#include <limits>

namespace {
constexpr int kResyncWindow = 64;
} // namespace

BoardReplay::BoardReplay(BoardSim *sim, const ZQSerialCapture::Parsed &capture, const Options &options,
                         QObject *parent)
    : QObject(parent)
    , m_sim(sim)
    , m_options(options)
    , m_timer(new QTimer(this))
{
    if (m_options.speed <= 0)
        m_options.speed = 1.0;
    const QList<ZQSerialCapture::Entry> &entries = capture.entries;
    // The link of the capture that is played: from its first "link up" (or,
    // with that remark edited away, its first frame that is no handshake) to
    // the next "link lost".
    m_anchorMs = std::numeric_limits<qint64>::max();
    if (!capture.linkUps.isEmpty()) {
        m_anchorMs = capture.linkUps.first().first;
    } else {
        for (const ZQSerialCapture::Entry &e : entries) {
            if (!BoardSim::isHandshakeFrame(e.frame)) {
                m_anchorMs = e.ms;
                break;
            }
        }
    }
    qint64 lossMs = std::numeric_limits<qint64>::max();
    for (qint64 ms : capture.linkLosses) {
        if (ms >= m_anchorMs) {
            lossMs = ms;
            break;
        }
    }
    int early = 0;
    for (const ZQSerialCapture::Entry &e : entries) {
        if (BoardSim::isHandshakeFrame(e.frame) || e.ms > lossMs)
            continue;
        if (e.ms < m_anchorMs) {
            early += e.direction == ZQSerialCapture::FromBoard;
            continue;
        }
        m_endMs = qMax(m_endMs, e.ms);
        if (e.direction == ZQSerialCapture::FromBoard)
            m_toPlay.append(e);
        else if (!ignored(e.frame))
            m_expected.append(e);
    }
    if (early > 0)
        m_sim->note(QStringLiteral("replay: %1 frames the board sent before the link was up are left out").arg(early));
    if (lossMs != std::numeric_limits<qint64>::max())
        m_sim->note(QStringLiteral("replay: the capture's link was lost at +%1 s; played up to there")
                        .arg(lossMs / 1000.0, 0, 'f', 3));
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &BoardReplay::playDue);
    connect(m_sim, &BoardSim::linkChanged, this, &BoardReplay::onLinkChanged);
    connect(m_sim, &BoardSim::frameFromPc, this, &BoardReplay::onFrameFromPc);
}

BoardSim::Mode BoardReplay::modeOf(const ZQSerialCapture::Parsed &capture)
{
    bool testAnswered = false;
    for (const ZQSerialCapture::Entry &e : capture.entries) {
        if (e.direction != ZQSerialCapture::FromBoard)
            continue;
        if (e.frame == BoardSim::HeartAnswer)
            return BoardSim::Mode::V2;
        testAnswered = testAnswered || e.frame == BoardSim::TestAnswer;
    }
    return testAnswered ? BoardSim::Mode::V1 : BoardSim::Mode::V2;
}

bool BoardReplay::ignored(const QByteArray &frame) const
{
    const QByteArray command = frame.mid(8);
    for (const QByteArray &prefix : m_options.ignore) {
        if (command.startsWith(prefix))
            return true;
    }
    return false;
}

void BoardReplay::onLinkChanged(bool up)
{
    if (!up || m_started)
        return;
    m_started = true;
    m_clock.start();
    m_sim->note(QStringLiteral("replay: link up, playing %1 frames of the board over %2 s")
                    .arg(m_toPlay.size())
                    .arg((m_endMs - qMin(m_endMs, m_anchorMs)) / 1000.0 / m_options.speed, 0, 'f', 3));
    playDue();
}

void BoardReplay::onFrameFromPc(const QByteArray &frame)
{
    if (m_started && !m_done && !ignored(frame))
        m_got.append(frame);
}

void BoardReplay::playDue()
{
    const double now = m_clock.elapsed() * m_options.speed; // in capture ms since the link came up
    while (m_next < m_toPlay.size() && m_toPlay.at(m_next).ms - m_anchorMs <= now) {
        const ZQSerialCapture::Entry &e = m_toPlay.at(m_next++);
        m_sim->send(e.frame, QStringLiteral("capture line %1").arg(e.line));
    }
    const qint64 dueMs = m_next < m_toPlay.size() ? m_toPlay.at(m_next).ms : m_endMs;
    const qint64 wait = qint64((dueMs - m_anchorMs - now) / m_options.speed);
    if (m_next < m_toPlay.size()) {
        m_timer->start(int(qMax<qint64>(0, wait)));
        return;
    }
    // The PC's last frames of the capture may still be on their way.
    disconnect(m_timer, &QTimer::timeout, this, &BoardReplay::playDue);
    connect(m_timer, &QTimer::timeout, this, &BoardReplay::finish);
    m_timer->start(int(qMax<qint64>(0, wait) + m_options.graceMs));
}

QList<BoardReplay::Difference> BoardReplay::compare(const QList<ZQSerialCapture::Entry> &expected,
                                                    const QList<QByteArray> &got)
{
    QList<Difference> out;
    int i = 0;
    int j = 0;
    auto lineBefore = [&expected](int index) { return index > 0 ? expected.at(index - 1).line : 0; };
    while (i < expected.size() || j < got.size()) {
        if (i < expected.size() && j < got.size() && expected.at(i).frame == got.at(j)) {
            ++i;
            ++j;
            continue;
        }
        // The nearest point where both are in step again: k frames of the
        // capture missing, or k frames sent that it does not have.
        int missing = -1;
        int extra = -1;
        for (int k = 1; k <= kResyncWindow && (missing < 0 || extra < 0); ++k) {
            if (missing < 0 && j < got.size() && i + k < expected.size() && expected.at(i + k).frame == got.at(j))
                missing = k;
            if (extra < 0 && i < expected.size() && j + k < got.size() && got.at(j + k) == expected.at(i).frame)
                extra = k;
        }
        if (j >= got.size() || (missing > 0 && (extra < 0 || missing <= extra))) {
            const int n = j >= got.size() ? expected.size() - i : missing;
            for (int k = 0; k < n; ++k, ++i)
                out.append({expected.at(i).line, expected.at(i).frame, QByteArray()});
        } else if (i >= expected.size() || extra > 0) {
            const int n = i >= expected.size() ? got.size() - j : extra;
            for (int k = 0; k < n; ++k, ++j)
                out.append({lineBefore(i), QByteArray(), got.at(j)});
        } else {
            out.append({expected.at(i).line, expected.at(i).frame, got.at(j)});
            ++i;
            ++j;
        }
    }
    return out;
}

void BoardReplay::finish()
{
    if (m_done)
        return;
    m_done = true;
    int differences = 0;
    if (m_options.compare) {
        const QList<Difference> diffs = compare(m_expected, m_got);
        for (const Difference &d : diffs) {
            QString text;
            if (d.got.isEmpty())
                text = QStringLiteral("capture line %1: the PC did not send %2")
                           .arg(d.captureLine)
                           .arg(ZQFrameScan::toHex(d.expected, ' '));
            else if (d.expected.isEmpty())
                text = QStringLiteral("after capture line %1: the PC sent %2, which the capture does not have")
                           .arg(d.captureLine)
                           .arg(ZQFrameScan::toHex(d.got, ' '));
            else
                text = QStringLiteral("capture line %1: the PC sent %2 instead of %3")
                           .arg(d.captureLine)
                           .arg(ZQFrameScan::toHex(d.got, ' '), ZQFrameScan::toHex(d.expected, ' '));
            m_sim->print(QStringLiteral("DIFF"), text);
        }
        differences = diffs.size();
        m_sim->note(QStringLiteral("replay done: the PC sent %1 frames, the capture has %2; %3 differences")
                        .arg(m_got.size())
                        .arg(m_expected.size())
                        .arg(differences));
    } else {
        m_sim->note(QStringLiteral("replay done"));
    }
    emit finished(differences);
}
