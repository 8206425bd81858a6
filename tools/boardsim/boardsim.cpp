#include "boardsim.h"

#include "boardscenario.h"
#include "zqboardframe.h"
#include "zqframescan.h"

#include <QRegularExpression>
#include <QTime>
#include <QTimer>

#include <cstdio>

namespace {
// The PC waits this long for the heart answer before it settles on version 1.
constexpr int VersionOneLinkMs = 5500;

bool isFrame(const QByteArray &f, int size, quint8 b8, quint8 b9)
{
    return f.size() == size && quint8(f.at(8)) == b8 && quint8(f.at(9)) == b9;
}
} // namespace

const QByteArray BoardSim::TestAnswer = ZQBoardFrame::build({0x01, 0x49, 0x00});
const QByteArray BoardSim::HeartAnswer = ZQBoardFrame::build({0x0F, 0x08});

namespace {
// The frames the control centre sends once the link is up, by command key,
// so the simulator's output tells them apart from ordinary traffic.
QString startupLabel(const QByteArray &frame)
{
    static const struct { quint8 b8, b9; const char *label; } table[] = {
        {0x0F, 0x01, "  (start-up 1/4: PC ready)"},
        {0x01, 0x31, "  (start-up 2/4: screen information request)"},
        {0xF2, 0x16, "  (start-up 3/4: installed applications)"},
        {0x01, 0x8A, "  (start-up 4/4: presence)"},
    };
    if (frame.size() < 11)
        return QString();
    for (const auto &row : table) {
        if (quint8(frame.at(8)) == row.b8 && quint8(frame.at(9)) == row.b9)
            return QString::fromLatin1(row.label);
    }
    return QString();
}
} // namespace

BoardSim::BoardSim(PtyLine *line, QObject *parent)
    : QObject(parent)
    , m_line(line)
    , m_sleep(new QTimer(this))
    , m_versionOneLink(new QTimer(this))
{
    m_clock.start();
    m_sleep->setSingleShot(true);
    m_versionOneLink->setSingleShot(true);
    connect(m_sleep, &QTimer::timeout, this, &BoardSim::pump);
    connect(m_versionOneLink, &QTimer::timeout, this, [this]() { setLinkUp(true); });
    connect(m_line, &PtyLine::received, this, &BoardSim::onReceived);
}

bool BoardSim::parseMode(const QString &text, Mode *mode)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("v1"))
        *mode = Mode::V1;
    else if (t == QLatin1String("v2"))
        *mode = Mode::V2;
    else if (t == QLatin1String("silent"))
        *mode = Mode::Silent;
    else if (t == QLatin1String("v2-heart-only"))
        *mode = Mode::V2HeartOnly;
    else
        return false;
    return true;
}

QString BoardSim::modeName(Mode mode)
{
    switch (mode) {
    case Mode::V1: return QStringLiteral("v1");
    case Mode::V2: return QStringLiteral("v2");
    case Mode::Silent: return QStringLiteral("silent");
    case Mode::V2HeartOnly: return QStringLiteral("v2-heart-only");
    }
    return QString();
}

QByteArray BoardSim::parseHex(const QString &text, bool *ok)
{
    static const QRegularExpression separators(QStringLiteral("[\\s:,]"));
    static const QRegularExpression hexOnly(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
    QString digits = text;
    digits.remove(separators);
    *ok = !digits.isEmpty() && hexOnly.match(digits).hasMatch();
    return *ok ? QByteArray::fromHex(digits.toLatin1()) : QByteArray();
}

void BoardSim::print(const QString &kind, const QString &text)
{
    const QString line = QStringLiteral("[%1 +%2] %3 %4")
                             .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")))
                             .arg(m_clock.elapsed() / 1000.0, 0, 'f', 3)
                             .arg(kind, text);
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void BoardSim::note(const QString &text)
{
    print(QStringLiteral("NOTE"), text);
}

void BoardSim::send(const QByteArray &bytes, const QString &what)
{
    const qint64 n = m_line->write(bytes);
    QString text = ZQFrameScan::toHex(bytes, ' ');
    if (!what.isEmpty())
        text += QStringLiteral("  (%1)").arg(what);
    if (n != bytes.size())
        text += QStringLiteral("  [only %1 of %2 bytes written]").arg(n).arg(bytes.size());
    print(QStringLiteral("TX"), text);
}

bool BoardSim::isHandshakeFrame(const QByteArray &frame)
{
    return isFrame(frame, 11, 0x01, 0x49) || isFrame(frame, 12, 0x0F, 0x08) || frame == TestAnswer
           || frame == HeartAnswer;
}

void BoardSim::setLinkUp(bool up)
{
    if (m_linkUp == up)
        return;
    m_linkUp = up;
    if (up) {
        note(QStringLiteral("link up"));
        if (m_waitingForLink) {
            m_waitingForLink = false;
            pump();
        }
    }
    emit linkChanged(up);
}

void BoardSim::onReceived(const QByteArray &bytes)
{
    const PtyLine::Settings line = m_line->settings();
    m_buffer.append(bytes);
    for (;;) {
        const QByteArray before = m_buffer;
        QByteArray frame;
        const ZQFrameScan::Result r = ZQFrameScan::scan(m_buffer, frame);
        if (r.discarded > 0)
            print(QStringLiteral("JUNK"), ZQFrameScan::toHex(before.left(r.discarded), ' '));
        if (!r.found)
            break;
        handleFrame(frame, line);
    }
}

void BoardSim::handleFrame(const QByteArray &frame, const PtyLine::Settings &line)
{
    QString what;
    const bool isTest = isFrame(frame, 11, 0x01, 0x49);
    const bool isHeart = isFrame(frame, 12, 0x0F, 0x08) && quint8(frame.at(10)) == 0x02;
    const bool isAck = isFrame(frame, 12, 0x0F, 0x08) && quint8(frame.at(10)) == 0x01;
    if (isTest)
        what = QStringLiteral("  (test frame)");
    else if (isHeart)
        what = QStringLiteral("  (heart frame)");
    else if (isAck)
        what = QStringLiteral("  (version-2 acknowledgement)");
    else
        what = startupLabel(frame);
    print(QStringLiteral("RX"), ZQFrameScan::toHex(frame, ' ') + QStringLiteral("  ")
                                    + PtyLine::describe(line) + what);

    if (isAck) {
        setLinkUp(true);
        return;
    }
    if (!isTest && !isHeart) {
        emit frameFromPc(frame);
        return;
    }
    if (isTest)
        setLinkUp(false); // the PC probes afresh
    const bool answersTest = m_mode == Mode::V1 || m_mode == Mode::V2;
    const bool answersHeart = m_mode == Mode::V2 || m_mode == Mode::V2HeartOnly;
    if ((isTest && !answersTest) || (isHeart && !answersHeart))
        return;
    if (m_answerBaud > 0 && line.baud != m_answerBaud) {
        note(QStringLiteral("line at %1 baud, this board answers only at %2").arg(line.baud).arg(m_answerBaud));
        return;
    }
    if (isTest) {
        send(TestAnswer, QStringLiteral("test answer"));
        if (m_mode == Mode::V1)
            m_versionOneLink->start(VersionOneLinkMs);
    } else {
        send(HeartAnswer, QStringLiteral("heart answer"));
    }
}

void BoardSim::enqueue(const QStringList &lines)
{
    m_pending.append(lines);
    if (!m_sleep->isActive() && !m_waitingForLink)
        pump();
}

void BoardSim::pump()
{
    while (!m_pending.isEmpty()) {
        const QString line = m_pending.takeFirst();
        if (!execute(line))
            return; // a sleep or a wait holds the rest back
    }
}

bool BoardSim::execute(const QString &rawLine)
{
    const QString line = rawLine.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
        return true;
    const QString word = line.section(QLatin1Char(' '), 0, 0).toLower();
    const QString rest = line.section(QLatin1Char(' '), 1).trimmed();

    if (word == QLatin1String("sleep")) {
        bool ok = false;
        const int ms = rest.toInt(&ok);
        if (!ok || ms < 0) {
            note(QStringLiteral("bad sleep: %1").arg(line));
            return true;
        }
        m_sleep->start(ms);
        return false;
    }
    if (word == QLatin1String("wait")) {
        if (rest != QLatin1String("link")) {
            note(QStringLiteral("unknown wait: %1").arg(line));
            return true;
        }
        if (m_linkUp)
            return true;
        m_waitingForLink = true;
        return false;
    }
    if (word == QLatin1String("scenario")) {
        const BoardScenario s = BoardScenario::find(rest);
        if (s.name.isEmpty()) {
            note(QStringLiteral("no scenario named %1").arg(rest));
            return true;
        }
        note(QStringLiteral("scenario %1: %2").arg(s.name, s.summary));
        m_pending = s.lines + m_pending;
        return true;
    }
    if (word == QLatin1String("mode")) {
        Mode mode;
        if (parseMode(rest, &mode)) {
            m_mode = mode;
            note(QStringLiteral("mode %1").arg(modeName(mode)));
        } else {
            note(QStringLiteral("unknown mode: %1").arg(rest));
        }
        return true;
    }
    if (word == QLatin1String("answer-baud")) {
        m_answerBaud = rest.toInt();
        note(QStringLiteral("answer-baud %1").arg(m_answerBaud));
        return true;
    }
    if (word == QLatin1String("help") || word == QLatin1String("?")) {
        note(QStringLiteral(
            "lines: HEX BYTES (sent as they are) | frame HEX (command bytes, header and CF added) | "
            "sleep MS | wait link | scenario NAME | mode v1|v2|silent|v2-heart-only | "
            "answer-baud N | quit"));
        return true;
    }
    if (word == QLatin1String("quit")) {
        emit quitRequested();
        return false;
    }
    bool ok = false;
    if (word == QLatin1String("frame")) {
        const QByteArray command = parseHex(rest, &ok);
        if (ok && command.size() + 6 > 0x7F)
            note(QStringLiteral("frame longer than a board frame may be; sent all the same"));
        if (ok)
            send(ZQBoardFrame::buildUnchecked(command), QString());
        else
            note(QStringLiteral("bad frame line: %1").arg(line));
        return true;
    }
    const QByteArray bytes = parseHex(word == QLatin1String("send") ? rest : line, &ok);
    if (ok)
        send(bytes, QString());
    else
        note(QStringLiteral("not understood: %1").arg(line));
    return true;
}
