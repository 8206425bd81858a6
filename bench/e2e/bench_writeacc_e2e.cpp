// Stroke-acceleration round trip through velacenter: from the board's E0 11
// marker request at the mainboard simulator, through the centre to the agent,
// and back to the answer frame at the simulator.
//
// By default a bus client stands in for the agent and answers at once, which
// gives the centre's and the link's share of the round trip. With --agent the
// real VelaStrokeAccelerate answers: on $DISPLAY when there is one, else on a
// private 1920x1080 Xvfb. A thread of its own then watches the top-left pixel
// of that screen, which gives the moment the squares are on screen as well.
//
// Every request asks for a new colour, so each answer frame is told from the
// last one; de-duplication in the agent goes by time alone, so each request
// leaves 1.5 s to 1.6 s after the previous answer reached the board.
//
// Usage: bench_writeacc_e2e [--agent] [requests, default 40]
// Needs the bus port 23334 free; without an X display velacenter runs off screen.

#include "strokeaccagentprocess.h"
#include "strokeacccode.h"
#include "velacenterrig.h"
#include "xvfbserver.h"
#include "zqipc.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void print(const char *what, QVector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const int n = ms.size();
    if (n == 0)
        return;
    std::printf("%-28s median %.1f ms  p99 %.1f ms  min %.1f ms  max %.1f ms\n", what,
                n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2, ms[std::min(n - 1, int(n * 0.99))],
                ms.first(), ms.last());
}

// Polls one pixel of the agent's screen on its own X connection while the
// main thread waits for the answer, and notes when it shows the colour.
class PixelWatch
{
public:
    bool start(const QString &display)
    {
        m_display = XOpenDisplay(display.toLocal8Bit().constData());
        if (!m_display)
            return false;
        m_thread = std::thread([this] { run(); });
        return true;
    }
    ~PixelWatch()
    {
        m_quit = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_display)
            XCloseDisplay(m_display);
    }
    void expect(unsigned colour)
    {
        m_seen = false;
        m_colour = colour;
    }
    // When the colour showed, if it did before `deadline`.
    bool seen(Clock::time_point deadline, Clock::time_point *at)
    {
        while (!m_seen && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        m_colour = kNone;
        *at = m_at;
        return m_seen;
    }

private:
    static constexpr unsigned kNone = ~0u;
    void run()
    {
        while (!m_quit) {
            const unsigned want = m_colour;
            if (want != kNone && !m_seen) {
                XImage *image = XGetImage(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, AllPlanes, ZPixmap);
                const unsigned p = image ? unsigned(XGetPixel(image, 0, 0) & 0xFFFFFF) : kNone;
                if (image)
                    XDestroyImage(image);
                if (p == want) {
                    m_at = Clock::now();
                    m_seen = true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    Display *m_display = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_quit{false};
    std::atomic<unsigned> m_colour{kNone};
    std::atomic<bool> m_seen{false};
    Clock::time_point m_at; // written before m_seen is set
};

bool displayUsable(const QString &name)
{
    Display *d = name.isEmpty() ? nullptr : XOpenDisplay(name.toLocal8Bit().constData());
    if (d)
        XCloseDisplay(d);
    return d;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    bool realAgent = false;
    int requests = 40;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--agent") == 0)
            realAgent = true;
        else
            requests = std::max(1, atoi(argv[i]));
    }

    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.quietCentre = true;
    if (!rig.start(options)) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(rig.error()));
        return 1;
    }

    XvfbServer xvfb;
    StrokeAccAgentProcess agent;
    PixelWatch watch;
    ZQIPC standIn;
    QString display;
    if (realAgent) {
        display = qEnvironmentVariable("DISPLAY");
        if (!displayUsable(display)) {
            if (!xvfb.start(1920, 1080)) {
                std::fprintf(stderr, "bench: %s\n", qPrintable(xvfb.errorText()));
                return 1;
            }
            display = xvfb.display();
        }
        // No file log, as installed; its output goes nowhere.
        agent.setFileLog(false);
        agent.process().setStandardOutputFile(QProcess::nullDevice());
        agent.process().setStandardErrorFile(QProcess::nullDevice());
        if (!agent.start(display, {}, QProcess::SeparateChannels) || !watch.start(display)) {
            std::fprintf(stderr, "bench: agent on %s: %s\n", qPrintable(display), qPrintable(agent.errorText()));
            return 1;
        }
    } else {
        // The stand-in answers every request as the agent would, at once.
        if (!standIn.createTcpClient(QStringLiteral("ID_APP_VELASTROKEACCELERATE"), "127.0.0.1", 23334)) {
            std::fprintf(stderr, "bench: agent stand-in not connected\n");
            return 1;
        }
        standIn.registerMsgAccept(QStringLiteral("ID_APP_VELACENTER"));
        QObject::connect(&standIn, &ZQIPC::sigRecvInfo, &standIn, [&](const QString &text) {
            const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
            if (o.value("eventid").toString() != QLatin1String("ID_INKDRAW"))
                return;
            const unsigned colour = strokeAccRequestColour(strokeAccHexToBytes(o.value("param").toString()));
            const QJsonObject reply{{"eventid", "ID_INKDRAW"}, {"from", "ID_SDK_STROKEACCELERATE"},
                                    {"property", getInkDrawScreenShotRs232Code(colour)},
                                    {"scenario", "ID_SCENARIO_TEACHING"}, {"to", "ID_APP_VELACENTER"}};
            standIn.sentInfo(QStringLiteral("ID_APP_VELACENTER"), QString::fromUtf8(QJsonDocument(reply).toJson()));
        });
    }
    const auto boardLine = [](const QByteArray &request) {
        return QStringLiteral("frame ") + QString::fromLatin1(request.toHex(' '));
    };

    // Ask until the agent (or stand-in) is subscribed and answers.
    const QByteArray red = QByteArray::fromHex(getInkDrawScreenShotRs232Code(0xFF0000).toLatin1());
    QElapsedTimer ready;
    ready.start();
    for (;;) {
        const int from = rig.boardReceivedCount();
        rig.boardSend(boardLine(strokeAccMarkerRequest(0xFF0000)));
        if (rig.waitBoardReceived(red, 1000, from))
            break;
        if (realAgent && agent.process().state() == QProcess::NotRunning) {
            std::fprintf(stderr, "bench: the agent ended at start (status %d)\n",
                         agent.process().exitCode());
            return 1;
        }
        if (ready.elapsed() > 20000) {
            std::fprintf(stderr, "bench: no answer to the first requests\n");
            return 1;
        }
    }

    QVector<double> answerMs, squaresMs, lagMs;
    int squaresFirst = 0;
    unsigned colour = 0xFF0000;
    for (int i = 0; i < requests; ++i) {
        // Past the agent's 1.5 s de-duplication, at a random point of the
        // reader's 100 ms cycle.
        QTest::qWait(1500 + int(QRandomGenerator::global()->bounded(100)));
        const unsigned previous = colour;
        do // never black or white, which the screen may show already
            colour = QRandomGenerator::global()->bounded(0x010101u, 0xFEFEFEu);
        while (colour == previous);
        const QByteArray answer = QByteArray::fromHex(getInkDrawScreenShotRs232Code(colour).toLatin1());
        const int from = rig.boardReceivedCount();
        if (realAgent)
            watch.expect(colour);
        const Clock::time_point sent = Clock::now();
        rig.boardSend(boardLine(strokeAccMarkerRequest(colour)));
        if (!rig.waitBoardReceived(answer, 5000, from)) {
            std::fprintf(stderr, "bench: request %d got no answer\n", i);
            return 1;
        }
        const Clock::time_point answered = Clock::now();
        answerMs << msBetween(sent, answered);
        if (!realAgent)
            continue;
        Clock::time_point shown;
        if (!watch.seen(answered + std::chrono::seconds(1), &shown)) {
            std::fprintf(stderr, "bench: request %d answered, but no squares on screen\n", i);
            return 1;
        }
        squaresMs << msBetween(sent, shown);
        lagMs << msBetween(answered, shown);
        squaresFirst += shown <= answered;
    }

    std::printf("E0 11 request -> answer frame at the board, %d requests, a new colour each, "
                "sent 1.5-1.6 s after the previous answer\n", requests);
    if (realAgent)
        std::printf("agent: the real VelaStrokeAccelerate on %s X display %s, no file log\n",
                    xvfb.display().isEmpty() ? "the" : "a private 1920x1080", qPrintable(display));
    else
        std::printf("agent: a bus client standing in, answering at once\n");
    std::printf("link pacing: the serial reader takes one frame per 100 ms pass; the writer pauses 50 ms after each frame\n");
    print("answer frame at the board:", answerMs);
    if (realAgent) {
        print("squares on screen:", squaresMs);
        print("squares after the answer:", lagMs);
        std::printf("squares on screen before the answer reached the board: %d of %d "
                    "(the top-left pixel is read once a millisecond)\n", squaresFirst, requests);
    }
    return 0;
}
