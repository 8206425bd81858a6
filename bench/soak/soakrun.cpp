#include "soakrun.h"

#include "strokeaccagentprocess.h"
#include "strokeacccode.h"
#include "velacenterrig.h"
#include "xvfbserver.h"
#include "zqipc.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <limits>

namespace {

// The board writes one frame this often: a little slower than the centre's
// reader, which takes one frame per 100 ms pass, so nothing piles up.
constexpr qint64 kUpPaceMs = 125;
// A frame written this shortly before the board goes may go with it.
constexpr qint64 kNearLossMs = 1000;
// The real agent answers once per 1.5 s; every stroke request is a new one.
constexpr qint64 kStrokeEveryMs = 2000;
constexpr qint64 kStrokeWaitMs = 5000;
constexpr qint64 kControlEveryMs = 3000;
constexpr qint64 kControlWaitMs = 70000; // the centre's own time-out is 60 s
constexpr qint64 kAgentAwayMs = 2000;
constexpr qint64 kVisitMs = 5000;
constexpr qint64 kSettleLimitMs = 15000;
constexpr qint64 kDrainMs = 10000;
constexpr qint64 kIdleSettleMs = 5000;
const int kBoardAwayMs[] = {500, 2500, 5000};
constexpr int kBusPort = 23334;
const char kCentre[] = "ID_APP_VELACENTER";

// Item numbers travel as three bytes 1..100 (base 100): never a start or end
// byte, never zero, which a text field would cut.
QByteArray digits(int n)
{
    QByteArray d;
    d.append(char(1 + n / 10000 % 100)).append(char(1 + n / 100 % 100)).append(char(1 + n % 100));
    return d;
}

int numberAt(const QByteArray &bytes, int at)
{
    if (bytes.size() < at + 3)
        return -1;
    int n = 0;
    for (int i = at; i < at + 3; ++i) {
        const int d = quint8(bytes.at(i)) - 1;
        if (d < 0 || d > 99)
            return -1;
        n = n * 100 + d;
    }
    return n;
}

// Bytes that fill long messages, different for each item, checked on arrival.
QByteArray filler(int n, int size)
{
    QByteArray f;
    for (int i = 0; i < size; ++i)
        f.append(char(0x20 + (i * 7 + n) % 90));
    return f;
}

QString frameLine(const QByteArray &command)
{
    return QStringLiteral("frame ") + QString::fromLatin1(command.toHex(' '));
}

QString sendLine(const QByteArray &bytes)
{
    return QStringLiteral("send ") + QString::fromLatin1(bytes.toHex(' '));
}

// A part frame as the board sends one: 7F L 99 A3 count index serial FF c1 c2 data CF.
QByteArray partFrame(int count, int index, int serial, const QByteArray &key, const QByteArray &piece)
{
    QByteArray f = QByteArray::fromHex("7F0099A3");
    f.append(char(count)).append(char(index)).append(char(serial)).append(char(0xFF)).append(key).append(piece);
    f.append(char(0xCF));
    f[1] = char(f.size() - 3);
    return f;
}

// Stroke colours: an item number in the three colour bytes; probes (asking
// whether the agent is there) carry 0xF0 in the red byte.
unsigned strokeColour(int n)
{
    const QByteArray d = digits(n);
    return unsigned(quint8(d[0])) << 16 | unsigned(quint8(d[1])) << 8 | quint8(d[2]);
}

const QStringList &penColours()
{
    static const QStringList c = {"#000000", "#FF0000", "#0000FF", "#00FF00", "#FFFF00", "#FFFFFF"};
    return c;
}

QJsonObject parse(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

QString compact(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QByteArray base64Param(const QJsonObject &o)
{
    return QByteArray::fromBase64(o.value(QStringLiteral("param")).toString().toLatin1());
}

int firstValue(const QJsonObject &o)
{
    return o.value(QStringLiteral("param")).toArray().at(0).toObject().value(QStringLiteral("value")).toInt(-1);
}

void add(SoakSequence::Counts &to, const SoakSequence::Counts &c)
{
    to.sent += c.sent;
    to.arrived += c.arrived;
    to.lost += c.lost;
    to.duplicated += c.duplicated;
    to.reordered += c.reordered;
}

void add(SoakSequence::Figures &to, const SoakSequence::Figures &f)
{
    add(to.outside, f.outside);
    add(to.nearLoss, f.nearLoss);
    add(to.kept, f.kept);
    to.keptAfterReturn += f.keptAfterReturn;
    to.unknown += f.unknown;
}

struct StreamInfo
{
    const char *name;
    const char *way;
    int modulus;
};

const StreamInfo kStreams[] = {
    {"pass-through", "board > bus", 0},
    {"pass-through, 2 part frames", "board > bus", 0},
    {"table SMSC_WIFI_NAME", "board > bus", 0},
    {"table SMSC_BRIGHTNESS", "board > bus", 100},
    {"table SET_DISC_PEN_COLOR", "board > front app", 6},
    {"tunnel E1 VELABRIDGE", "board > bus", 0},
    {"shortcut E3 07 pen attr.", "board > bus", 0},
    {"stroke E0 11 > answer", "board > board", 0},
    {"hardware question > answer", "board > board", 0},
    {"pass-through", "bus > board", 0},
    {"pass-through, split", "bus > board", 0},
    {"table SMSC_BRIGHTNESS", "bus > board", 100},
    {"tunnel VELABRIDGE_CHANNEL", "bus > board", 0},
    {"pass-through, visitors", "bus > board", 0},
    {"GET_PRODUCT_INFO > reply", "bus > bus", 0},
    {"visitor to visitor", "bus > bus", 0},
};

} // namespace

struct SoakRun::Visitor
{
    ZQIPC *bus = nullptr;
    QString id;
    bool greeted = false;
};

SoakRun::SoakRun(const Options &options)
    : m_options(options)
{
    for (int s = 0; s < StreamCount; ++s)
        m_streams[s] = SoakSequence(kStreams[s].modulus);
    m_tick.setInterval(25);
    connect(&m_tick, &QTimer::timeout, this, &SoakRun::tick);
}

SoakRun::~SoakRun()
{
    dropVisitors();
    if (m_listener.state() != QProcess::NotRunning) {
        m_listener.kill();
        m_listener.waitForFinished(5000);
    }
    stopAgent();
    delete m_smartScreen;
    delete m_bridge;
    delete m_control;
    delete m_whiteboard;
}

ZQIPC *SoakRun::joinBus(const QString &id, bool subscribe)
{
    auto *bus = new ZQIPC;
    if (!bus->createTcpClient(id, "127.0.0.1", kBusPort)) {
        delete bus;
        return nullptr;
    }
    if (subscribe)
        bus->registerMsgAccept(QLatin1String(kCentre));
    return bus;
}

bool SoakRun::startAgent()
{
    ++m_agentStarts;
    if (m_options.realAgent) {
        m_agentProcess->process().setStandardOutputFile(QProcess::nullDevice());
        m_agentProcess->process().setStandardErrorFile(QProcess::nullDevice());
        return m_agentProcess->start(m_display, {}, QProcess::SeparateChannels);
    }
    m_standIn = joinBus(QStringLiteral("ID_APP_VELASTROKEACCELERATE"), true);
    if (!m_standIn)
        return false;
    m_agentLastParam.clear();
    m_agentCopiesByStart << 0;
    ZQIPC *agent = m_standIn;
    connect(agent, &ZQIPC::sigRecvInfo, this, [this, agent](const QString &text) { answerAsAgent(agent, text); });
    return true;
}

void SoakRun::stopAgent()
{
    if (m_agentProcess)
        m_agentProcess->stop();
    delete m_standIn;
    m_standIn = nullptr;
}

// Answers as the agent does, at once and without the screen; like the agent
// it answers a request once however often it hears it (the agent goes by
// time: nothing within 1.5 s of an answer), and it counts the copies.
void SoakRun::answerAsAgent(ZQIPC *agent, const QString &text)
{
    if (!text.contains(QLatin1String("ID_INKDRAW")))
        return;
    const QJsonObject o = parse(text);
    if (o.value(QStringLiteral("eventid")).toString() != QLatin1String("ID_INKDRAW")
        || o.value(QStringLiteral("from")).toString() != QLatin1String(kCentre))
        return;
    const QString param = o.value(QStringLiteral("param")).toString();
    ++m_agentHeard;
    if (param == m_agentLastParam) {
        m_agentCopiesByStart.last() = std::max(m_agentCopiesByStart.last(), ++m_agentCopies);
        return;
    }
    m_agentLastParam = param;
    m_agentCopies = 1;
    m_agentCopiesByStart.last() = std::max(m_agentCopiesByStart.last(), 1);
    ++m_agentDistinct;
    const unsigned colour = strokeAccRequestColour(strokeAccHexToBytes(param));
    const QJsonObject reply{{"eventid", "ID_INKDRAW"}, {"from", "ID_SDK_STROKEACCELERATE"},
                            {"property", getInkDrawScreenShotRs232Code(colour)},
                            {"scenario", "ID_SCENARIO_TEACHING"}, {"to", kCentre}};
    agent->sentInfo(QLatin1String(kCentre), QString::fromUtf8(QJsonDocument(reply).toJson()));
}

bool SoakRun::takeSample(ProcessSampler::Sample *s)
{
    if (m_sampler->take(now(), s))
        return true;
    m_failure = QStringLiteral("velacenter is gone (no /proc entry)");
    return false;
}

int SoakRun::run()
{
    m_rig.reset(new VelaCenterRig);
    VelaCenterRig::Options rigOptions;
    // As installed: the centre's traces off, its warnings kept.
    rigOptions.environment << QStringLiteral("QT_LOGGING_RULES=*.debug=false");
    m_boardLink = m_rig->folder() + QStringLiteral("/board");
    rigOptions.boardLink = m_boardLink;
    if (!m_rig->start(rigOptions)) {
        std::fprintf(stderr, "bench_soak: %s\n", qPrintable(m_rig->error()));
        return 1;
    }
    m_clock.start();
    m_sampler.reset(new ProcessSampler(m_rig->centre().processId()));
    if (!takeSample(&m_startSample))
        return 1;

    if (m_options.realAgent) {
        // A screen of its own: an hour of marker squares has no place on
        // anybody's desktop.
        m_xvfb.reset(new XvfbServer);
        if (!m_xvfb->start(1920, 1080)) {
            std::fprintf(stderr, "bench_soak: %s\n", qPrintable(m_xvfb->errorText()));
            return 1;
        }
        m_display = m_xvfb->display();
        m_agentProcess.reset(new StrokeAccAgentProcess);
        m_agentProcess->setFileLog(false);
    }

    // The applications that stay: they send to the board and, as real ones
    // do, hear what the centre publishes.
    m_smartScreen = joinBus(QStringLiteral("ID_PC_VELASMARTSCREEN"), true);
    m_bridge = joinBus(QStringLiteral("ID_APP_VELABRIDGE"), true);
    m_control = joinBus(QStringLiteral("ControlCenter"), true);
    // The whiteboard in front: the centre asks which program is in front
    // before it passes a pen change from the board on.
    m_whiteboard = joinBus(QStringLiteral("ID_APP_VELATOUCHPRO"), true);
    if (m_whiteboard) {
        m_whiteboard->registerMsgAccept(QStringLiteral("ID_APP_GETTOPAPP_DLL"));
        connect(m_whiteboard, &ZQIPC::sigRecvInfo, this, [this](const QString &text) {
            if (!text.contains(QLatin1String("ID_APP_IS_TOP")))
                return;
            ++m_frontQuestions;
            m_whiteboard->sentInfo(QStringLiteral("ID_APP_GETTOPAPP_DLL"),
                                   compact({{"eventid", "ID_APP_IS_TOP"}, {"from", "ID_APP_VELATOUCHPRO"},
                                            {"to", "ID_APP_GETTOPAPP_DLL"}}));
        });
    }
    if (!m_smartScreen || !m_bridge || !m_control || !m_whiteboard || !startAgent()) {
        std::fprintf(stderr, "bench_soak: the steady bus clients or the agent did not join: %s\n",
                     m_agentProcess ? qPrintable(m_agentProcess->errorText()) : "");
        return 1;
    }
    const QList<ZQIPC *> steady = {m_smartScreen, m_bridge, m_control, m_whiteboard};
    m_fanOut = QVector<int>(steady.size(), 0);
    for (int i = 0; i < steady.size(); ++i) {
        connect(steady[i], &ZQIPC::sigRecvInfo, this, [this, i](const QString &text) {
            if (!text.contains(QLatin1String("EVENT_ANY")))
                return;
            if (base64Param(parse(text)).startsWith(QByteArray::fromHex("E9B0")))
                ++m_fanOut[i];
        });
    }

    // The shortcut module asks for the screen information until the board answers.
    m_upPriority << QStringLiteral("frame E3 04 61 2D 31");
    m_lastScreenInfoAnswer = now();
    // Spread the streams over the first second.
    const qint64 t0 = now();
    m_nextDown[DownPass] = t0 + 30;
    m_nextDown[DownLong] = t0 + 470;
    m_nextDown[DownBrightness] = t0 + 160;
    m_nextDown[DownTunnel] = t0 + 620;
    m_nextControlAt = t0 + 900;
    m_nextStrokeAt = t0 + 300;
    m_nextUpAt = t0;
    m_nextChurnAt = t0 + m_options.churnEverySeconds * 1000;
    m_nextSampleAt = t0;

    std::printf("velacenter soak: %d s of load (warm-up at least %d s and one round of every churn), "
                "then %d s idle\n",
                m_options.seconds, m_options.warmupSeconds, m_options.idleSeconds);
    std::printf("agent: %s\n", m_options.realAgent
                                   ? qPrintable(QStringLiteral("the real VelaStrokeAccelerate on a private "
                                                               "1920x1080 Xvfb, display ") + m_display)
                                   : "a bus client answering in its place");
    std::fflush(stdout);

    QEventLoop loop;
    m_tick.start();
    while (m_phase != Phase::Done && m_failure.isEmpty())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    m_tick.stop();
    if (!m_failure.isEmpty()) {
        std::fprintf(stderr, "bench_soak: %s\n", qPrintable(m_failure));
        return 1;
    }
    printReport();
    return m_goalsMet ? 0 : 2;
}

void SoakRun::tick()
{
    static bool inTick = false;
    if (inTick)
        return;
    inTick = true;
    const qint64 t = now();
    readBoard(t);
    readBus(t);
    switch (m_phase) {
    case Phase::Load:
        // Churn first: an item sent in the tick that ends the board went
        // after it, and is kept, not lost with the line.
        churnStep(t);
        writeUp(t);
        sendDown(t);
        break;
    case Phase::Drain:
        churnStep(t);
        writeUp(t); // replies still go out
        if (!m_inChurn && !m_settling && t - m_phaseAt >= kDrainMs) {
            // No client but the centre's own from now on.
            dropVisitors();
            stopAgent();
            delete m_smartScreen;
            delete m_bridge;
            delete m_control;
            delete m_whiteboard;
            m_smartScreen = m_bridge = m_control = m_whiteboard = nullptr;
            m_rig->closeBus();
            m_phase = Phase::Idle;
            m_phaseAt = t;
        }
        break;
    case Phase::Idle:
        if (m_idleFrom.atMs == 0 && t - m_phaseAt >= kIdleSettleMs) {
            takeSample(&m_idleFrom);
            m_idleBoardFrames = 0;
        } else if (m_idleFrom.atMs > 0 && t - m_idleFrom.atMs >= m_options.idleSeconds * 1000) {
            takeSample(&m_idleTo);
            m_phase = Phase::Done;
        }
        break;
    case Phase::Done:
        break;
    }
    if (m_phase == Phase::Load)
        sample(t);
    inTick = false;
}

void SoakRun::sample(qint64 t)
{
    if (t < m_nextSampleAt)
        return;
    m_nextSampleAt = t + m_options.sampleMs;
    ProcessSampler::Sample s;
    if (takeSample(&s)) {
        m_samples << s;
        m_deliveredBySample << m_delivered;
    }
}

// ---------------------------------------------------------------- board side

void SoakRun::writeUp(qint64 t)
{
    if (!m_boardPresent || t < m_nextUpAt)
        return;
    QString line;
    if (!m_upSecondPart.isEmpty()) {
        line = m_upSecondPart;
        m_upSecondPart.clear();
    } else if (!m_upPriority.isEmpty()) {
        line = m_upPriority.takeFirst();
    } else if (m_phase == Phase::Load && m_agentWanted && t >= m_nextStrokeAt && !m_agentReady) {
        // Is the agent there (and subscribed)? Asked until it answers.
        line = frameLine(strokeAccMarkerRequest(0xF00000 | (strokeColour(++m_probes) & 0xFFFF)));
        m_probeOutstanding = m_probes;
        m_nextStrokeAt = t + kStrokeEveryMs;
    } else if (m_phase == Phase::Load && m_agentWanted && m_agentReady && t >= m_nextStrokeAt
               && (m_strokeOutstanding < 0 || t - m_strokeSentAt > kStrokeWaitMs)) {
        m_strokeOutstanding = m_streams[Stroke].send(t);
        m_strokeSentAt = t;
        line = frameLine(strokeAccMarkerRequest(strokeColour(m_strokeOutstanding)));
        m_nextStrokeAt = t + kStrokeEveryMs;
    } else if (m_phase == Phase::Load) {
        line = nextFillerLine(t);
    }
    if (line.isEmpty())
        return;
    m_rig->boardSend(line);
    m_nextUpAt = t + kUpPaceMs;
}

QString SoakRun::nextFillerLine(qint64 t)
{
    static const Stream kRound[] = {UpPass, UpWifi,  UpPass, UpTunnel,    UpPass, UpBrightness,
                                    UpPass, UpPenAttributes, UpPass, UpPenColour, UpPass, UpLong};
    const Stream s = kRound[m_fillerIndex++ % (sizeof kRound / sizeof kRound[0])];
    const int n = m_streams[s].send(t);
    switch (s) {
    case UpPass:
        return frameLine(QByteArray::fromHex("E9B0") + digits(n));
    case UpWifi:
        return frameLine(QByteArray::fromHex("C304") + "n" + QByteArray::number(n));
    case UpBrightness:
        return frameLine(QByteArray::fromHex("C302") + char(n % 100));
    case UpPenColour:
        return frameLine(QByteArray::fromHex("C101") + char(1 + n % 6));
    case UpTunnel:
        return frameLine(QByteArray::fromHex("E1B0") + digits(n));
    case UpPenAttributes:
        return frameLine(QByteArray::fromHex("E307") + digits(n));
    case UpLong: {
        // Two part frames in two passes of the board; the centre joins them.
        const QByteArray data = digits(n) + filler(n, 28);
        m_partSerial = m_partSerial % 99 + 1;
        const QByteArray key = QByteArray::fromHex("E9B3");
        m_upSecondPart = sendLine(partFrame(2, 1, m_partSerial, key, data.mid(21)));
        return sendLine(partFrame(2, 0, m_partSerial, key, data.left(21)));
    }
    default:
        return QString();
    }
}

void SoakRun::readBoard(qint64 t)
{
    const QList<QByteArray> rx = m_rig->boardReceived();
    for (; m_boardRead < rx.size(); ++m_boardRead)
        onBoardFrame(rx.at(m_boardRead), t);
}

void SoakRun::onBoardFrame(const QByteArray &frame, qint64 t)
{
    if (m_phase == Phase::Idle)
        ++m_idleBoardFrames;
    else
        ++m_delivered;
    if (frame == VelaCenterRig::kStartupFrame4 && m_inChurn && m_churn == Churn::BoardLoss && m_churnStep == 2) {
        // The centre is through with the handshake and talks to the new board.
        m_windows.last().backAtMs = t;
        m_boardPresent = true;
        m_churnStep = 3;
    }
    if (frame.size() < 11) {
        ++m_otherAtBoard[QString::fromLatin1(frame.mid(8, 2).toHex(' ').toUpper())];
        return;
    }
    if (quint8(frame.at(3)) == 0xA3) {
        joinDownPart(frame, t);
        return;
    }
    const QByteArray cmd = frame.mid(8, frame.size() - 9);
    const auto is = [&cmd](const char *hex) { return cmd.startsWith(QByteArray::fromHex(hex)); };
    if (is("E9B1")) {
        m_streams[DownPass].arrive(numberAt(cmd, 2), t);
    } else if (is("E9B4")) {
        m_streams[DownVisitor].arrive(numberAt(cmd, 2), t);
    } else if (is("E1B1")) {
        m_streams[DownTunnel].arrive(numberAt(cmd, 2), t);
    } else if (is("C302") && cmd.size() == 3) {
        m_streams[DownBrightness].arrive(quint8(cmd.at(2)), t);
    } else if (is("E01100") && cmd.size() == 7) {
        if (quint8(cmd.at(3)) == 0xF0) {
            // A probe's answer: the agent is there.
            if (m_agentWanted && numberAt(QByteArray(1, char(1)) + cmd.mid(4, 2), 0) == m_probeOutstanding % 10000)
                m_agentReady = true;
        } else {
            const int n = numberAt(cmd, 3);
            m_streams[Stroke].arrive(n, t);
            if (n == m_strokeOutstanding)
                m_strokeOutstanding = -1;
        }
    } else if (is("F101FFFF")) {
        // The board answers the central control's question at once.
        m_upPriority << QStringLiteral("frame F3 01 05");
    } else if (is("A0A7") || is("A9A0")) {
        if (m_hardwareOutstanding >= 0 && cmd.startsWith(m_hardwareExpect)) {
            m_streams[Hardware].arrive(m_hardwareOutstanding, t);
            m_hardwareOutstanding = -1;
        } else {
            ++m_otherAtBoard[QStringLiteral("hardware answer nobody asked for")];
        }
    } else if (is("E304") && cmd.size() == 2) {
        if (m_boardPresent && t - m_lastScreenInfoAnswer > 3000) {
            m_upPriority << QStringLiteral("frame E3 04 61 2D 31");
            m_lastScreenInfoAnswer = t;
        }
        ++m_otherAtBoard[QStringLiteral("E3 04 (screen information request)")];
    } else {
        ++m_otherAtBoard[QString::fromLatin1(cmd.left(2).toHex(' ').toUpper())];
    }
}

void SoakRun::joinDownPart(const QByteArray &frame, qint64 t)
{
    const int count = quint8(frame.at(4));
    const int index = quint8(frame.at(5));
    const QByteArray id = frame.mid(6, 1) + frame.mid(8, 2);
    QMap<int, QByteArray> &parts = m_downParts[id];
    parts.insert(index, frame.mid(10, quint8(frame.at(1)) - 8));
    if (parts.size() < count)
        return;
    QByteArray data;
    for (const QByteArray &p : qAsConst(parts))
        data += p;
    const QByteArray cmd = frame.mid(8, 2) + data;
    m_downParts.remove(id);
    const int n = numberAt(cmd, 2);
    const bool intact = cmd.startsWith(QByteArray::fromHex("E9B2")) && n >= 0 && cmd.mid(5) == filler(n, 40);
    m_streams[DownLong].arrive(intact ? n : -1, t);
}

// ------------------------------------------------------------------ bus side

bool SoakRun::sendToCentre(ZQIPC *client, const QString &text)
{
    return client && client->sentInfo(QLatin1String(kCentre), text) == 0;
}

void SoakRun::sendDown(qint64 t)
{
    if (t >= m_nextDown[DownPass]) {
        m_nextDown[DownPass] = t + 250;
        const int n = m_streams[DownPass].send(t);
        m_rig->sendToCentre(VelaCenterRig::eventAny(QByteArray::fromHex("E9B1") + digits(n), QLatin1String(kCentre)));
    }
    if (t >= m_nextDown[DownLong]) {
        m_nextDown[DownLong] = t + 2000;
        const int n = m_streams[DownLong].send(t);
        m_rig->sendToCentre(VelaCenterRig::eventAny(QByteArray::fromHex("E9B2") + digits(n) + filler(n, 40),
                                                    QLatin1String(kCentre)));
    }
    if (t >= m_nextDown[DownBrightness]) {
        m_nextDown[DownBrightness] = t + 1000;
        const int n = m_streams[DownBrightness].send(t);
        const QJsonObject value{{"type", "Brightness"}, {"value", n % 100}};
        sendToCentre(m_smartScreen, compact({{"eventid", "SMSC_BRIGHTNESS"}, {"from", "ID_PC_VELASMARTSCREEN"},
                                             {"to", kCentre}, {"param", QJsonArray{value}}}));
    }
    if (t >= m_nextDown[DownTunnel]) {
        m_nextDown[DownTunnel] = t + 1000;
        const int n = m_streams[DownTunnel].send(t);
        const QByteArray payload = QByteArray::fromHex("B1") + digits(n);
        sendToCentre(m_bridge, compact({{"eventid", "VELABRIDGE_CHANNEL"}, {"from", "ID_APP_VELABRIDGE"},
                                        {"to", kCentre}, {"param", QString::fromLatin1(payload.toBase64())}}));
    }
    if (t >= m_nextControlAt && (m_controlOutstanding < 0 || t - m_controlSentAt > kControlWaitMs)) {
        m_nextControlAt = t + kControlEveryMs;
        m_controlOutstanding = m_streams[Control].send(t);
        m_controlSentAt = t;
        sendToCentre(m_control, compact({{"eventid", "GET_PRODUCT_INFO"},
                                         {"id", QStringLiteral("soak-%1").arg(m_controlOutstanding)},
                                         {"from", "ControlCenter"}, {"to", "MessageCenter"}}));
    }
}

void SoakRun::readBus(qint64 t)
{
    const QStringList texts = m_rig->busMessages();
    for (; m_busRead < texts.size(); ++m_busRead)
        onCentreMessage(texts.at(m_busRead), t);
}

void SoakRun::onCentreMessage(const QString &text, qint64 t)
{
    ++m_delivered;
    const QJsonObject o = parse(text);
    const QString event = o.value(QStringLiteral("eventid")).toString();
    const QString id = o.value(QStringLiteral("id")).toString();
    if (id.startsWith(QLatin1String("soak-"))) {
        const int n = id.mid(5).toInt();
        // The centre's own answer when the board never replied: value 0.
        if (firstValue(o) == 0 && event.isEmpty())
            ++m_controlTimedOut;
        else
            m_streams[Control].arrive(n, t);
        if (n == m_controlOutstanding)
            m_controlOutstanding = -1;
    } else if (event == QLatin1String("EVENT_ANY")) {
        const QByteArray bytes = base64Param(o);
        const int n = numberAt(bytes, 2);
        if (bytes.startsWith(QByteArray::fromHex("E9B0"))) {
            m_streams[UpPass].arrive(n, t);
        } else if (bytes.startsWith(QByteArray::fromHex("E9B3"))) {
            const bool intact = n >= 0 && bytes.mid(5) == filler(n, 28);
            m_streams[UpLong].arrive(intact ? n : -1, t);
        } else {
            ++m_otherOnBus[QStringLiteral("EVENT_ANY ") + QString::fromLatin1(bytes.left(2).toHex(' ').toUpper())];
        }
    } else if (event == QLatin1String("SMSC_WIFI_NAME")) {
        const QString name =
            o.value(QStringLiteral("param")).toArray().at(0).toObject().value(QStringLiteral("value")).toString();
        m_streams[UpWifi].arrive(name.startsWith(QLatin1Char('n')) ? name.mid(1).toInt() : -1, t);
    } else if (event == QLatin1String("SMSC_BRIGHTNESS")) {
        m_streams[UpBrightness].arrive(firstValue(o), t);
    } else if (event == QLatin1String("ID_ITEM_STROKE_SMOOTH")) {
        // The board's pen colour, for the program in front.
        const QString colour = o.value(QStringLiteral("property")).toObject().value(QStringLiteral("Color")).toString();
        m_streams[UpPenColour].arrive(penColours().indexOf(colour), t);
    } else if (event == QLatin1String("VELABRIDGE_CHANNEL")) {
        const QByteArray bytes = base64Param(o);
        m_streams[UpTunnel].arrive(bytes.startsWith(char(0xB0)) ? numberAt(bytes, 1) : -1, t);
    } else if (event == QLatin1String("ID_PEN_ATTR_BRO")) {
        m_streams[UpPenAttributes].arrive(numberAt(base64Param(o), 0), t);
    } else {
        ++m_otherOnBus[event.isEmpty() ? QStringLiteral("(no eventid)") : event];
    }
}

// -------------------------------------------------------------------- churn

void SoakRun::churnStep(qint64 t)
{
    if (m_settling) {
        if (!settleStep(t)) {
            m_settling = false;
            ++m_churnsDone;
        }
        return;
    }
    if (m_inChurn) {
        if (!churnRunning(t)) {
            m_inChurn = false;
            static const char *const names[] = {"visitors left", "agent restarted", "hardware questions",
                                                "board back"};
            startSettle(QLatin1String(names[int(m_churn)]), t);
        }
        return;
    }
    if (m_phase != Phase::Load)
        return;
    static const Churn kRound[] = {Churn::Visitors, Churn::Agent, Churn::Visitors,
                                   Churn::Hardware, Churn::Visitors, Churn::BoardLoss};
    constexpr int kRoundSize = sizeof kRound / sizeof kRound[0];
    if (!m_warm && t >= m_options.warmupSeconds * 1000 && m_churnsDone >= kRoundSize) {
        ProcessSampler::Sample s;
        if (!takeSample(&s))
            return;
        m_warmSample = s;
        m_baseFds = s.fds;
        m_baseThreads = s.threads;
        m_warm = true;
        m_warmSampleIndex = m_samples.size();
        m_samples << s;
        m_deliveredBySample << m_delivered;
        std::printf("warm after %.0f s: baseline %d descriptors, %d threads, RSS %.1f MB\n", t / 1000.0, s.fds,
                    s.threads, s.rssKb / 1024.0);
        std::fflush(stdout);
    }
    if (t >= m_options.seconds * 1000 && m_warm) {
        // The figures of the load end here; the drain only lets the last
        // items arrive.
        if (!takeSample(&m_loadEndSample))
            return;
        m_samples << m_loadEndSample;
        m_deliveredBySample << m_delivered;
        m_loadEndIndex = m_samples.size() - 1;
        m_phase = Phase::Drain;
        m_phaseAt = t;
        return;
    }
    if (t >= m_nextChurnAt) {
        m_nextChurnAt = t + m_options.churnEverySeconds * 1000;
        startChurn(kRound[m_churnIndex++ % kRoundSize], t);
    }
}

void SoakRun::startChurn(Churn kind, qint64 t)
{
    m_inChurn = true;
    m_churn = kind;
    m_churnStep = 0;
    m_churnStepAt = t;
    switch (kind) {
    case Churn::Visitors:
        visitorsArrive(t);
        break;
    case Churn::Agent:
        m_agentWanted = false; // no new requests; the last one is answered first
        break;
    case Churn::Hardware:
        m_hardwareOutstanding = m_streams[Hardware].send(t);
        m_hardwareExpect = QByteArray::fromHex("A0A7");
        m_upPriority << QStringLiteral("frame A0 A6"); // memory size
        break;
    case Churn::BoardLoss: {
        const int away = kBoardAwayMs[m_lossCount++ % 3];
        m_windows.append({t, std::numeric_limits<qint64>::max()});
        m_boardPresent = false;
        m_upSecondPart.clear(); // its first part went with the board
        m_rig->stopBoard();
        m_churnStepAt = t + away;
        break;
    }
    }
}

bool SoakRun::churnRunning(qint64 t)
{
    switch (m_churn) {
    case Churn::Visitors:
        visitorsStep(t);
        return !m_visitors.isEmpty();
    case Churn::Agent:
        if (m_churnStep == 0 && (m_strokeOutstanding < 0 || t - m_churnStepAt > kStrokeWaitMs)) {
            stopAgent();
            m_agentReady = false;
            m_churnStep = 1;
            m_churnStepAt = t + kAgentAwayMs;
        } else if (m_churnStep == 1 && t >= m_churnStepAt) {
            if (!startAgent()) {
                m_failure = QStringLiteral("the agent did not start again");
                return false;
            }
            m_agentWanted = true;
            m_nextStrokeAt = t;
            m_churnStep = 2;
            m_churnStepAt = t;
        } else if (m_churnStep == 2) {
            if (m_agentReady)
                return false;
            if (t - m_churnStepAt > 30000) {
                m_failure = QStringLiteral("the agent did not answer within 30 s of its restart");
                return false;
            }
        }
        return true;
    case Churn::Hardware:
        if (m_hardwareOutstanding < 0 || t - m_churnStepAt > 10000) {
            if (m_churnStep == 1)
                return false;
            // Then the presence question, answered without a command.
            m_hardwareOutstanding = m_streams[Hardware].send(t);
            m_hardwareExpect = QByteArray::fromHex("A9A0");
            m_upPriority << QStringLiteral("frame 01 8A");
            m_churnStep = 1;
            m_churnStepAt = t;
        }
        return true;
    case Churn::BoardLoss:
        if (m_churnStep == 0 && t >= m_churnStepAt) {
            if (!m_rig->startBoardAgain(QStringLiteral("v2"), m_boardLink)) {
                m_failure = QStringLiteral("the board did not start again: ") + m_rig->error();
                return false;
            }
            m_churnStep = 2; // onBoardFrame moves on to 3 when the link is up
            m_churnStepAt = t;
        } else if (m_churnStep == 2 && t - m_churnStepAt > 60000) {
            m_failure = QStringLiteral("the link did not come back within 60 s of the board's return");
            return false;
        }
        return m_churnStep != 3;
    }
    return false;
}

void SoakRun::startSettle(const QString &what, qint64 t)
{
    m_settling = true;
    m_settleWhat = what;
    m_settleFrom = t;
    m_nextSettleSample = t;
}

// Descriptors and threads after a churn: back to the baseline, or not within
// the limit. Before the baseline is known, only a short pause.
bool SoakRun::settleStep(qint64 t)
{
    if (!m_warm)
        return t - m_settleFrom < 2000;
    if (t < m_nextSettleSample)
        return true;
    m_nextSettleSample = t + 250;
    ProcessSampler::Sample s;
    if (!takeSample(&s))
        return false;
    const bool back = s.fds == m_baseFds && s.threads == m_baseThreads;
    if (!back && t - m_settleFrom < kSettleLimitMs)
        return true;
    ChurnCheck c;
    c.what = m_settleWhat;
    c.atMs = t;
    c.back = back;
    c.tookMs = t - m_settleFrom;
    c.fds = s.fds;
    c.threads = s.threads;
    m_checks << c;
    return false;
}

void SoakRun::visitorsArrive(qint64 t)
{
    ++m_visitBatch;
    for (int i = 0; i < 3; ++i) {
        auto *v = new Visitor;
        v->id = QStringLiteral("ID_APP_SOAK_VISITOR_%1_%2").arg(m_visitBatch).arg(i);
        v->bus = joinBus(v->id, true);
        if (!v->bus) {
            delete v;
            m_failure = QStringLiteral("a visitor could not join the bus");
            return;
        }
        connect(v->bus, &ZQIPC::sigRecvInfo, this, [this, v](const QString &text) {
            // The hub's greeting: from now on directed messages reach it.
            if (text == QLatin1String("succeful"))
                v->greeted = true;
            if (!text.contains(QLatin1String("SOAK_VISIT")))
                return;
            const QJsonObject o = parse(text);
            const int pair = o.value(QStringLiteral("pair")).toInt(-1);
            if (pair >= 0 && pair < 3)
                m_visitPairs[pair].arrive(o.value(QStringLiteral("param")).toInt(-1), now());
        });
        m_visitors << v;
    }
    // One more in a process of its own, which dies without a word.
    m_listener.setStandardOutputFile(QProcess::nullDevice());
    m_listener.setStandardErrorFile(QProcess::nullDevice());
    m_listener.start(QStringLiteral(VELA_BIN_DIR "/zqbus"),
                     {QStringLiteral("listen"), QStringLiteral("--as"),
                      QStringLiteral("ID_APP_SOAK_LISTENER_%1").arg(m_visitBatch), QStringLiteral("--subscribe"),
                      QLatin1String(kCentre)});
    m_nextVisitAt = t;
    m_nextVisitorPassAt = t;
}

void SoakRun::visitorsStep(qint64 t)
{
    if (m_visitors.isEmpty())
        return;
    const qint64 since = t - m_churnStepAt;
    if (since >= kVisitMs + 1000) {
        visitorsLeave(t);
        return;
    }
    if (since >= kVisitMs)
        return; // the last messages between them arrive
    for (const Visitor *v : qAsConst(m_visitors)) {
        if (!v->greeted && since < 2000)
            return; // not reachable yet
    }
    if (t >= m_nextVisitAt) {
        // Each visitor to the next in turn; order holds between two clients.
        m_nextVisitAt = t + 200;
        const int pair = m_visits++ % 3;
        const int n = m_visitPairs[pair].send(t);
        const Visitor *from = m_visitors.at(pair);
        const Visitor *to = m_visitors.at((pair + 1) % 3);
        from->bus->sentInfo(to->id, compact({{"eventid", "SOAK_VISIT"}, {"from", from->id}, {"to", to->id},
                                             {"pair", pair}, {"param", n}}));
    }
    if (t >= m_nextVisitorPassAt) {
        m_nextVisitorPassAt = t + 500;
        sendVisitorCommand(t);
    }
}

void SoakRun::visitorsLeave(qint64 t)
{
    // A last command, and the application quits at once.
    sendVisitorCommand(t);
    dropVisitors();
    m_listener.kill();
    m_listener.waitForFinished(5000);
}

// A numbered command to the board from the first visitor.
void SoakRun::sendVisitorCommand(qint64 t)
{
    const int n = m_streams[DownVisitor].send(t);
    QJsonObject o = VelaCenterRig::eventAny(QByteArray::fromHex("E9B4") + digits(n), QLatin1String(kCentre));
    o.insert(QStringLiteral("from"), m_visitors.first()->id);
    sendToCentre(m_visitors.first()->bus, compact(o));
}

void SoakRun::dropVisitors()
{
    for (Visitor *v : qAsConst(m_visitors)) {
        delete v->bus;
        delete v;
    }
    m_visitors.clear();
}

// ------------------------------------------------------------------- report

void SoakRun::printReport()
{
    const ProcessSampler::Sample &end = m_loadEndSample;
    std::printf("\nstreams, each way, counted by what arrived (sequence number in every item):\n");
    std::printf("  'near' = sent within %lld ms before the board went away (may go with it);\n", kNearLossMs);
    std::printf("  'kept' = sent while the board was away (the centre keeps them; they must arrive after its return)\n");
    std::printf("%-29s %-13s %7s %7s %5s %5s %6s | %10s | %16s\n", "stream", "way", "sent", "arrived", "lost", "dup",
                "reord", "near/lost", "kept/after ret.");
    int badOutside = 0, keptMissing = 0, unknown = 0;
    QStringList lostOutside;
    for (int s = 0; s < StreamCount; ++s) {
        QVector<const SoakSequence *> parts{&m_streams[s]};
        if (s == Visits)
            parts = {&m_visitPairs[0], &m_visitPairs[1], &m_visitPairs[2]};
        SoakSequence::Figures f;
        for (const SoakSequence *part : qAsConst(parts)) {
            add(f, part->figures(m_windows, kNearLossMs));
            for (qint64 at : part->lostSentAt()) {
                QString where = QStringLiteral("%1: sent at %2 s").arg(QLatin1String(kStreams[s].name)).arg(at / 1000.0, 0, 'f', 1);
                bool outside = true;
                for (const SoakSequence::Window &w : qAsConst(m_windows)) {
                    if (at >= w.lossAtMs - kNearLossMs && at < w.backAtMs)
                        outside = false;
                    else if (qAbs(at - w.lossAtMs) < 60000)
                        where += QStringLiteral(", %1 s from the loss at %2 s")
                                     .arg((at - w.lossAtMs) / 1000.0, 0, 'f', 1).arg(w.lossAtMs / 1000.0, 0, 'f', 1);
                }
                if (outside)
                    lostOutside << where;
            }
        }
        const SoakSequence::Counts &o = f.outside;
        std::printf("%-29s %-13s %7d %7d %5d %5d %6d | %4d/%-5d | %6d/%-6d", kStreams[s].name, kStreams[s].way, o.sent,
                    o.arrived, o.lost, o.duplicated, o.reordered, f.nearLoss.sent, f.nearLoss.lost, f.kept.sent,
                    f.keptAfterReturn);
        const int badNearOrKept = f.nearLoss.duplicated + f.nearLoss.reordered + f.kept.duplicated + f.kept.reordered;
        if (badNearOrKept || f.kept.lost || f.unknown)
            std::printf("  (near/kept dup+reord %d, kept lost %d, unknown %d)", badNearOrKept, f.kept.lost, f.unknown);
        std::printf("\n");
        badOutside += o.lost + o.duplicated + o.reordered + badNearOrKept;
        keptMissing += f.kept.lost + (f.kept.arrived - f.keptAfterReturn);
        unknown += f.unknown;
    }
    if (!lostOutside.isEmpty()) {
        std::printf("lost outside the windows (first 20 of %d):\n", int(lostOutside.size()));
        for (const QString &l : lostOutside.mid(0, 20))
            std::printf("  %s\n", qPrintable(l));
    }
    std::printf("central control requests answered by the centre's time-out instead of the board: %d\n",
                m_controlTimedOut);
    std::printf("the up pass-through heard by each steady subscriber: ");
    const int heard = m_streams[UpPass].figures({}, 0).outside.arrived;
    for (int n : qAsConst(m_fanOut))
        std::printf("%d ", n);
    std::printf("(the test's listener: %d)\n", heard);
    std::printf("other frames at the board:");
    for (auto it = m_otherAtBoard.cbegin(); it != m_otherAtBoard.cend(); ++it)
        std::printf(" [%s] %d", qPrintable(it.key()), it.value());
    std::printf("\nother messages of the centre:");
    for (auto it = m_otherOnBus.cbegin(); it != m_otherOnBus.cend(); ++it)
        std::printf(" [%s] %d", qPrintable(it.key()), it.value());
    std::printf("\nboard losses: %d (away 0.5, 2.5, 5 s in turn); link back after the board's return:",
                int(m_windows.size()));
    for (const SoakSequence::Window &w : qAsConst(m_windows))
        std::printf(" %.1f", (w.backAtMs - w.lossAtMs) / 1000.0);
    std::printf(" s after the loss\nvisitor batches: %d (3 bus clients and one zqbus process each); agent starts: %d\n",
                m_visitBatch, m_agentStarts);
    std::printf("'which program is in front?' questions answered by the whiteboard: %d\n", m_frontQuestions);
    if (!m_options.realAgent) {
        std::printf("the agent heard %d stroke requests, %d different ones; most copies of one request after each "
                    "start:", m_agentHeard, m_agentDistinct);
        for (int copies : qAsConst(m_agentCopiesByStart))
            std::printf(" %d", copies);
        std::printf("\n");
    }

    // Memory: the slope of the samples after the warm-up.
    QVector<double> hours, mb;
    int minFds = INT_MAX, maxFds = 0, minThreads = INT_MAX, maxThreads = 0;
    for (const ProcessSampler::Sample &s : qAsConst(m_samples)) {
        minFds = std::min(minFds, s.fds);
        maxFds = std::max(maxFds, s.fds);
        minThreads = std::min(minThreads, s.threads);
        maxThreads = std::max(maxThreads, s.threads);
        if (s.atMs >= m_warmSample.atMs) {
            hours << s.atMs / 3600000.0;
            mb << s.rssKb / 1024.0;
        }
    }
    const double slope = ProcessSampler::slope(hours, mb);
    std::printf("\nvelacenter, sampled every %d ms (%d samples, %d after the warm-up):\n", m_options.sampleMs,
                int(m_samples.size()), int(hours.size()));
    std::printf("RSS: start %.2f MB, after warm-up (%.0f s) %.2f MB, end of load (%.0f s) %.2f MB, "
                "after idle %.2f MB; slope after warm-up %+.3f MB/h\n",
                m_startSample.rssKb / 1024.0, m_warmSample.atMs / 1000.0, m_warmSample.rssKb / 1024.0,
                end.atMs / 1000.0, end.rssKb / 1024.0, m_idleTo.rssKb / 1024.0, slope);
    std::printf("descriptors: baseline %d, min %d, max %d, idle without clients %d\n", m_baseFds, minFds, maxFds,
                m_idleTo.fds);
    std::printf("threads: baseline %d, min %d, max %d, idle without clients %d\n", m_baseThreads, minThreads,
                maxThreads, m_idleTo.threads);
    int back = 0;
    QMap<QString, QPair<int, int>> byKind; // back, all
    qint64 slowest = 0;
    for (const ChurnCheck &c : qAsConst(m_checks)) {
        back += c.back;
        byKind[c.what].first += c.back;
        ++byKind[c.what].second;
        if (c.back)
            slowest = std::max(slowest, c.tookMs);
    }
    std::printf("back to the baseline after a churn: %d of %d (slowest %lld ms):", back, int(m_checks.size()), slowest);
    for (auto it = byKind.cbegin(); it != byKind.cend(); ++it)
        std::printf(" %s %d/%d;", qPrintable(it.key()), it.value().first, it.value().second);
    std::printf("\n");
    int shown = 0;
    for (const ChurnCheck &c : qAsConst(m_checks)) {
        if (!c.back && shown++ < 10)
            std::printf("  not back %lld ms after '%s' at %.0f s: %d descriptors, %d threads\n", c.tookMs,
                        qPrintable(c.what), c.atMs / 1000.0, c.fds, c.threads);
    }
    // Processor time per item through the centre, over the whole time after
    // the warm-up and over each quarter of it (a cost that creeps up shows).
    const auto cpuLine = [this](const char *what, int from, int to) {
        const ProcessSampler::Sample &a = m_samples.at(from);
        const ProcessSampler::Sample &b = m_samples.at(to);
        const double seconds = (b.atMs - a.atMs) / 1000.0;
        const int items = m_deliveredBySample.at(to) - m_deliveredBySample.at(from);
        std::printf("  %-22s %6.0f s  %5.2f%% of a core  %6.3f ms per item  (%d items)\n", what, seconds,
                    seconds > 0 ? (b.cpuMs - a.cpuMs) / seconds / 10.0 : 0.0,
                    items ? double(b.cpuMs - a.cpuMs) / items : 0.0, items);
    };
    const int first = m_warmSampleIndex;
    const int last = m_loadEndIndex;
    std::printf("CPU under load (items: frames at the board and messages the centre published):\n");
    if (last > first) {
        cpuLine("after the warm-up", first, last);
        for (int q = 0; q < 4; ++q) {
            const int from = first + (last - first) * q / 4;
            const int to = first + (last - first) * (q + 1) / 4;
            if (to > from)
                cpuLine(qPrintable(QStringLiteral("quarter %1").arg(q + 1)), from, to);
        }
    }
    const double idleSeconds = (m_idleTo.atMs - m_idleFrom.atMs) / 1000.0;
    const double idleCpu = idleSeconds > 0 ? (m_idleTo.cpuMs - m_idleFrom.cpuMs) / idleSeconds / 10.0 : 0;
    std::printf("idle CPU (board linked and quiet, no bus client, %.0f s): %.2f%% of a core (%lld ms); "
                "frames the centre sent meanwhile: %d\n",
                idleSeconds, idleCpu, m_idleTo.cpuMs - m_idleFrom.cpuMs, m_idleBoardFrames);

    const QStringList lines = m_rig->centreOutput().split(QLatin1Char('\n'));
    QMap<QString, int> said;
    for (QString line : lines) {
        if (line.isEmpty())
            continue;
        line.replace(QRegularExpression(QStringLiteral("[0-9]+")), QStringLiteral("N"));
        ++said[line.left(140)];
    }
    std::printf("velacenter's output (numbers as N):\n");
    for (auto it = said.cbegin(); it != said.cend(); ++it)
        std::printf("  %5d x %s\n", it.value(), qPrintable(it.key()));

    const auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    std::printf("\ngoals:\n");
    // Copies of the centre's requests heard by the agent count as duplicates too.
    badOutside += m_agentHeard - m_agentDistinct;
    std::printf("  nothing lost, duplicated or reordered outside the losses' windows: %s (%d)\n",
                verdict(badOutside == 0 && unknown == 0), badOutside + unknown);
    std::printf("  commands kept during a loss all arrive after it: %s (%d not)\n", verdict(keptMissing == 0),
                keptMissing);
    std::printf("  RSS growth after warm-up under 1 MB/h: %s (%+.3f MB/h)\n", verdict(slope < 1.0), slope);
    std::printf("  descriptors and threads back to the baseline after each churn: %s (%d of %d)\n",
                verdict(back == m_checks.size() && !m_checks.isEmpty()), back, int(m_checks.size()));
    std::printf("  idle CPU under 0.5%% of a core: %s (%.2f%%)\n", verdict(idleCpu < 0.5), idleCpu);
    m_goalsMet = badOutside == 0 && unknown == 0 && keptMissing == 0 && slope < 1.0 && back == m_checks.size()
                 && !m_checks.isEmpty() && idleCpu < 0.5;
}
