// Board pen changes at the link's full pace while the centre must ask which
// application is in front for each of them, and bus traffic to the board at
// the same time.
//
// The simulated board sends a pen colour or width change every 100 ms (the
// serial reader's own pace) for the whole run. A bus client plays the
// whiteboard in front: it answers "ID_APP_IS_TOP" at once (second run: nobody
// answers) and records the pen events that reach it. Another bus client
// sends an "EVENT_ANY" to the board every 100 ms; the time until the board has
// its frame shows whether the centre's main thread (every board write) keeps
// up meanwhile.
//
// Printed: pen events sent, delivered and dropped, board-to-whiteboard
// latency, and bus-to-board latency of the EVENT_ANY frames (median, p99, max).
// Pen events carry only a few distinct values; they are matched to the events
// sent in order, each to the latest one sent with the same value, so with
// drops the pen latencies are lower bounds.
//
// Usage: bench_frontapp [--seconds N] [--only answering|silent] [--programs DIR]
//   --programs DIR: run velacenter and boardsim from DIR (which holds the
//   tables and a version.ini), e.g. the bin folder of an older build.
// Needs the bus port 23334 free (or VELA_BUS_PORT); without an X display
// velacenter runs off screen.

#include "velacenterrig.h"
#include "zqipc.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMutex>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start, Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(t - start).count();
}

const char kWhiteboard[] = "ID_APP_VELATOUCHPRO";
const char kKit[] = "ID_APP_GETTOPAPP_DLL";
const char kSender[] = "ID_APP_BENCHSENDER";

// The nine pen changes: six colours (board byte, what the application gets)
// and three widths.
struct Pen {
    QByteArray command;
    QString property;
    QJsonValue value;
};

const QVector<Pen> &pens()
{
    static const QVector<Pen> list = {
        {QByteArray::fromHex("C10101"), "Color", "#000000"}, {QByteArray::fromHex("C10102"), "Color", "#FF0000"},
        {QByteArray::fromHex("C10103"), "Color", "#0000FF"}, {QByteArray::fromHex("C10104"), "Color", "#00FF00"},
        {QByteArray::fromHex("C10105"), "Color", "#FFFF00"}, {QByteArray::fromHex("C10106"), "Color", "#FFFFFF"},
        {QByteArray::fromHex("C10203"), "Width", 3},         {QByteArray::fromHex("C10206"), "Width", 5},
        {QByteArray::fromHex("C1020C"), "Width", 10}};
    return list;
}

int penOf(const QJsonObject &property)
{
    for (int i = 0; i < pens().size(); ++i) {
        const Pen &p = pens().at(i);
        if (property.size() == 1 && property.value(p.property) == p.value)
            return i;
    }
    return -1;
}

struct Stamp {
    int pen;
    Clock::time_point at;
};

struct Figures {
    int n = 0;
    double p50 = 0, p99 = 0, max = 0;
};

Figures figuresOf(std::vector<double> ms)
{
    Figures f;
    f.n = int(ms.size());
    if (ms.empty())
        return f;
    std::sort(ms.begin(), ms.end());
    f.p50 = ms[ms.size() / 2];
    f.p99 = ms[std::min(ms.size() - 1, size_t(ms.size() * 0.99))];
    f.max = ms.back();
    return f;
}

void print(const char *what, const Figures &f)
{
    if (f.n == 0)
        std::printf("  %-26s n=0\n", what);
    else
        std::printf("  %-26s n=%d  p50 %.0f ms  p99 %.0f ms  max %.0f ms\n", what, f.n, f.p50, f.p99, f.max);
}

// The whiteboard in front: answers the kit's question (unless silent) and
// records the pen events addressed to it. Lives on the clients' thread.
class Whiteboard : public QObject
{
public:
    explicit Whiteboard(bool answering) : m_answering(answering)
    {
        connect(&m_ipc, &ZQIPC::sigRecvInfo, this, &Whiteboard::onMessage);
    }
    bool join()
    {
        if (!m_ipc.createTcpClient(QString::fromLatin1(kWhiteboard), "127.0.0.1", ZQIPC::busPort()))
            return false;
        m_ipc.registerMsgAccept(QString::fromLatin1(kKit));
        m_ipc.registerMsgAccept(QStringLiteral("ID_APP_VELACENTER"));
        return true;
    }
    std::vector<Stamp> received() const
    {
        QMutexLocker lock(&m_mutex);
        return m_received;
    }
    int questions() const
    {
        QMutexLocker lock(&m_mutex);
        return m_questions;
    }

private:
    void onMessage(const QString &text)
    {
        const Clock::time_point now = Clock::now();
        const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
        const QString event = o.value(QStringLiteral("eventid")).toString();
        if (event == QLatin1String("ID_APP_IS_TOP")) {
            {
                QMutexLocker lock(&m_mutex);
                ++m_questions;
            }
            if (m_answering) {
                const QJsonObject answer{{QStringLiteral("eventid"), QStringLiteral("ID_APP_IS_TOP")},
                                         {QStringLiteral("from"), QString::fromLatin1(kWhiteboard)},
                                         {QStringLiteral("to"), QString::fromLatin1(kKit)}};
                m_ipc.sentInfo(QString::fromLatin1(kKit), QString::fromUtf8(QJsonDocument(answer).toJson()));
            }
            return;
        }
        if (event != QLatin1String("ID_ITEM_STROKE_SMOOTH") || o.value(QStringLiteral("to")).toString() != QLatin1String(kWhiteboard))
            return;
        const int pen = penOf(o.value(QStringLiteral("property")).toObject());
        QMutexLocker lock(&m_mutex);
        m_received.push_back({pen, now});
    }

    bool m_answering;
    ZQIPC m_ipc;
    mutable QMutex m_mutex;
    std::vector<Stamp> m_received;
    int m_questions = 0;
};

// Sends an EVENT_ANY to the board every 100 ms. Lives on the clients' thread.
class Sender : public QObject
{
public:
    bool join() { return m_ipc.createTcpClient(QString::fromLatin1(kSender), "127.0.0.1", ZQIPC::busPort()); }
    void start()
    {
        connect(&m_timer, &QTimer::timeout, this, &Sender::sendOne);
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(100);
    }
    void stop() { m_timer.stop(); }
    static QByteArray payload(int i) { return QByteArray::fromHex("E9B2") + char(i / 100) + char(i % 100); }
    std::vector<Clock::time_point> sent() const
    {
        QMutexLocker lock(&m_mutex);
        return m_sent;
    }

private:
    void sendOne()
    {
        int i;
        {
            QMutexLocker lock(&m_mutex);
            i = int(m_sent.size());
            m_sent.push_back(Clock::now());
        }
        m_ipc.sentInfo(QStringLiteral("ID_APP_VELACENTER"),
                       QString::fromUtf8(QJsonDocument(VelaCenterRig::eventAny(payload(i), QStringLiteral("ID_APP_VELACENTER")))
                                             .toJson(QJsonDocument::Compact)));
    }

    ZQIPC m_ipc;
    QTimer m_timer;
    mutable QMutex m_mutex;
    std::vector<Clock::time_point> m_sent;
};

// Runs f on the clients' thread and waits for it.
void onThread(QObject *context, const std::function<void()> &f)
{
    QMetaObject::invokeMethod(context, f, Qt::BlockingQueuedConnection);
}

// Runs the event loop until `done` or the time is up, calling `look` after
// every batch of events (so arrivals are stamped when they are handled).
void spin(const std::function<bool()> &done, const std::function<void()> &look, int maxMs)
{
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(maxMs);
    QTimer tick;
    tick.start(5);
    while (!done() && Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        look();
    }
}

bool runOnce(bool answering, int seconds, const QString &programs)
{
    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.programDir = programs;
    // The centre as shipped, debug traces off, but for the shortcut module's
    // few lines: they tell when its screen-information polling has stopped.
    options.environment << QStringLiteral("QT_LOGGING_RULES=*.debug=false;vela.business.shortcut.debug=true");
    if (!rig.start(options)) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(rig.error()));
        return false;
    }
    if (!rig.answerScreenInfo())
        std::fprintf(stderr, "bench: the screen-information polling goes on\n");

    QThread clients;
    clients.start();
    auto *context = new QObject;
    context->moveToThread(&clients);
    QObject::connect(&clients, &QThread::finished, context, &QObject::deleteLater);
    std::unique_ptr<Whiteboard> whiteboard;
    std::unique_ptr<Sender> sender;
    bool joined = false;
    onThread(context, [&] {
        whiteboard.reset(new Whiteboard(answering));
        sender.reset(new Sender);
        joined = whiteboard->join() && sender->join();
    });
    const auto finish = [&] {
        onThread(context, [&] {
            whiteboard.reset();
            sender.reset();
        });
        clients.quit();
        clients.wait();
    };
    if (!joined) {
        std::fprintf(stderr, "bench: the bus clients could not join\n");
        finish();
        return false;
    }
    QThread::msleep(300); // the hub takes the subscriptions

    // The pen changes: never the same twice in a row.
    QRandomGenerator random(20240611);
    std::vector<Stamp> pensSent;
    std::vector<Clock::time_point> anyAtBoard;
    const int boardFrom = rig.boardReceivedCount();
    int boardSeen = boardFrom;
    const auto lookAtBoard = [&] {
        const int count = rig.boardReceivedCount();
        if (count == boardSeen)
            return;
        const Clock::time_point now = Clock::now();
        const QList<QByteArray> frames = rig.boardReceived();
        for (int i = boardSeen; i < count; ++i) {
            const QByteArray f = frames.at(i);
            if (f.size() != 13 || f.mid(8, 2) != QByteArray::fromHex("E9B2"))
                continue;
            const size_t seq = size_t(quint8(f.at(10)) * 100 + quint8(f.at(11)));
            if (anyAtBoard.size() <= seq)
                anyAtBoard.resize(seq + 1);
            anyAtBoard[seq] = now;
        }
        boardSeen = count;
    };

    QTimer penTimer;
    penTimer.setTimerType(Qt::PreciseTimer);
    int last = -1;
    QObject::connect(&penTimer, &QTimer::timeout, [&] {
        int pen;
        do {
            pen = int(random.bounded(pens().size()));
        } while (pen == last);
        last = pen;
        pensSent.push_back({pen, Clock::now()});
        rig.boardSend(QStringLiteral("frame ") + QString::fromLatin1(pens().at(pen).command.toHex(' ')));
    });
    const Clock::time_point start = Clock::now();
    penTimer.start(100);
    onThread(context, [&] { sender->start(); });
    spin([&] { return Clock::now() - start >= std::chrono::seconds(seconds); }, lookAtBoard, seconds * 1000 + 1000);
    penTimer.stop();
    onThread(context, [&] { sender->stop(); });

    // Stragglers: what is still on its way.
    const std::vector<Clock::time_point> anySent = sender->sent();
    const auto allAnyArrived = [&] {
        if (anyAtBoard.size() < anySent.size())
            return false;
        for (size_t i = 0; i < anySent.size(); ++i)
            if (anyAtBoard[i] == Clock::time_point())
                return false;
        return true;
    };
    const auto allPensArrived = [&] { return !answering || whiteboard->received().size() >= pensSent.size(); };
    spin([&] { return allAnyArrived() && allPensArrived(); }, lookAtBoard, 20000);
    if (!answering)
        spin([] { return false; }, lookAtBoard, 1500); // late pen events would come now

    const std::vector<Stamp> got = whiteboard->received();
    const int questions = whiteboard->questions();
    finish();

    // Each received pen event to the latest event sent before it with the
    // same value, keeping the order.
    std::vector<double> penMs;
    int unmatched = 0;
    int j = int(pensSent.size()) - 1;
    for (int r = int(got.size()) - 1; r >= 0; --r) {
        while (j >= 0 && (pensSent[size_t(j)].pen != got[size_t(r)].pen || pensSent[size_t(j)].at > got[size_t(r)].at))
            --j;
        if (j < 0) {
            ++unmatched;
            continue;
        }
        penMs.push_back(msSince(pensSent[size_t(j)].at, got[size_t(r)].at));
        --j;
    }
    std::vector<double> anyMs;
    int anyLost = 0;
    for (size_t i = 0; i < anySent.size(); ++i) {
        if (i < anyAtBoard.size() && anyAtBoard[i] != Clock::time_point())
            anyMs.push_back(msSince(anySent[i], anyAtBoard[i]));
        else
            ++anyLost;
    }

    std::printf("%s\n", answering ? "run 1: the whiteboard in front answers \"ID_APP_IS_TOP\" at once"
                                  : "run 2: nobody answers \"ID_APP_IS_TOP\"");
    std::printf("  pen events sent %d, delivered %d, dropped %d (questions heard by the whiteboard: %d)\n",
                int(pensSent.size()), int(got.size()), int(pensSent.size()) - int(got.size()), questions);
    if (unmatched)
        std::printf("  (%d delivered pen events matched no event sent)\n", unmatched);
    print("board -> whiteboard", figuresOf(penMs));
    print("EVENT_ANY bus -> board", figuresOf(anyMs));
    if (anyLost)
        std::printf("  EVENT_ANY frames not at the board within 20 s of the end: %d of %d\n", anyLost, int(anySent.size()));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    int seconds = 30;
    QString only;
    QString programs;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--seconds") && i + 1 < args.size())
            seconds = std::max(1, args.at(++i).toInt());
        else if (args.at(i) == QLatin1String("--only") && i + 1 < args.size())
            only = args.at(++i);
        else if (args.at(i) == QLatin1String("--programs") && i + 1 < args.size())
            programs = args.at(++i);
        else {
            std::fprintf(stderr, "usage: bench_frontapp [--seconds N] [--only answering|silent] [--programs DIR]\n");
            return 2;
        }
    }

    std::printf("velacenter, which application is in front under load: %d s, a board pen change every 100 ms,\n"
                "an EVENT_ANY from the bus to the board every 100 ms (link version 2, pseudo-terminal)\n", seconds);
    std::printf("link pacing: the reader takes one frame per 100 ms pass; the writer pauses 50 ms after each frame\n");
    if (!programs.isEmpty())
        std::printf("programs from %s\n", qPrintable(programs));
    bool ok = true;
    if (only.isEmpty() || only == QLatin1String("answering"))
        ok = runOnce(true, seconds, programs) && ok;
    if (only.isEmpty() || only == QLatin1String("silent"))
        ok = runOnce(false, seconds, programs) && ok;
    return ok ? 0 : 1;
}
