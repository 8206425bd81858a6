// boardsim: a simulated display mainboard on a pseudo-terminal (or a real
// serial device), for running the control centre without a panel.

#include "boardreplay.h"
#include "boardscenario.h"
#include "boardsim.h"
#include "ptyline.h"
#include "zqtermsignalwatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {
// Reads standard input line by line without blocking the event loop; stops
// watching at the end of input (the simulator keeps running).
class StdinLines : public QObject
{
public:
    StdinLines(BoardSim *sim, bool quitOnEof, QObject *parent)
        : QObject(parent), m_sim(sim), m_quitOnEof(quitOnEof), m_notifier(STDIN_FILENO, QSocketNotifier::Read, this)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, [this]() { readSome(); });
    }

private:
    void readSome()
    {
        char buf[4096];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            m_notifier.setEnabled(false);
            if (!m_partial.isEmpty())
                m_sim->enqueue({QString::fromLocal8Bit(m_partial)});
            m_partial.clear();
            if (m_quitOnEof)
                m_sim->enqueue({QStringLiteral("quit")});
            return;
        }
        m_partial.append(buf, int(n));
        QStringList lines;
        int nl;
        while ((nl = m_partial.indexOf('\n')) >= 0) {
            lines << QString::fromLocal8Bit(m_partial.left(nl));
            m_partial.remove(0, nl + 1);
        }
        if (!lines.isEmpty())
            m_sim->enqueue(lines);
    }

    BoardSim *m_sim;
    bool m_quitOnEof;
    QSocketNotifier m_notifier;
    QByteArray m_partial;
};
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("boardsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated display mainboard. Creates a pseudo-terminal and prints its path on the first line as\n"
        "\"PTY <path>\"; point \"COM/PortName\" in version.ini at it. Prints every frame received (RX) and\n"
        "sent (TX) with a time stamp, and reads command lines from standard input (hex bytes, \"frame ...\",\n"
        "\"sleep MS\", \"wait link\", \"scenario NAME\", \"mode ...\", \"answer-baud N\", \"help\", \"quit\").\n"
        "Exit codes: 0 done, 1 the line could not be opened, 2 bad usage, 3 --compare found differences."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption modeOpt(QStringLiteral("mode"),
        QStringLiteral("How the board answers the handshake: v1, v2 (default), silent, v2-heart-only."),
        QStringLiteral("mode"), QStringLiteral("v2"));
    const QCommandLineOption baudOpt(QStringLiteral("baud"),
        QStringLiteral("Answer only while the line runs at this baud rate (0: at any rate)."),
        QStringLiteral("rate"), QStringLiteral("0"));
    const QCommandLineOption deviceOpt(QStringLiteral("device"),
        QStringLiteral("Use this serial device instead of a new pseudo-terminal."), QStringLiteral("path"));
    const QCommandLineOption lineBaudOpt(QStringLiteral("line-baud"),
        QStringLiteral("Baud rate to set on --device (default 115200)."), QStringLiteral("rate"),
        QStringLiteral("115200"));
    const QCommandLineOption pathFileOpt(QStringLiteral("pty-file"),
        QStringLiteral("Also write the line's path into this file."), QStringLiteral("file"));
    const QCommandLineOption linkOpt(QStringLiteral("link"),
        QStringLiteral("Make this symbolic link point at the pseudo-terminal (removed at exit)."),
        QStringLiteral("path"));
    const QCommandLineOption scriptOpt(QStringLiteral("script"),
        QStringLiteral("Run the command lines of this file (before standard input)."), QStringLiteral("file"));
    const QCommandLineOption scenarioOpt(QStringLiteral("scenario"),
        QStringLiteral("Run this named scenario once the link is up (may be repeated)."), QStringLiteral("name"));
    const QCommandLineOption eofOpt(QStringLiteral("quit-on-eof"),
        QStringLiteral("End when standard input ends (for programs that drive the simulator)."));
    const QCommandLineOption listOpt(QStringLiteral("list-scenarios"), QStringLiteral("List the scenarios and exit."));
    const QCommandLineOption replayOpt(QStringLiteral("replay"),
        QStringLiteral("Play the board's side of a serial capture (velacenter --capture) back once the link is up;\n"
                       "the handshake is answered as the captured board did unless --mode is given."),
        QStringLiteral("file"));
    const QCommandLineOption speedOpt(QStringLiteral("speed"),
        QStringLiteral("With --replay: play this many times faster than captured (default 1)."),
        QStringLiteral("factor"), QStringLiteral("1"));
    const QCommandLineOption compareOpt(QStringLiteral("compare"),
        QStringLiteral("With --replay: print where the PC's frames differ from the capture's (DIFF lines),\n"
                       "then end: exit status 0 when none differ, 3 when some do."));
    const QCommandLineOption ignoreOpt(QStringLiteral("ignore"),
        QStringLiteral("With --compare: leave frames whose command bytes begin with these hex bytes out\n"
                       "(e.g. \"E3 04\", timed requests); may be repeated."),
        QStringLiteral("hex"));
    parser.addOptions({modeOpt, baudOpt, deviceOpt, lineBaudOpt, pathFileOpt, linkOpt, scriptOpt, scenarioOpt, eofOpt,
                       listOpt, replayOpt, speedOpt, compareOpt, ignoreOpt});
    // Every usage error ends with status 2 (QCommandLineParser::process
    // would use 1, which here means the line could not be opened).
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "boardsim: %s (see boardsim --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    parser.process(app);   // answers --help and --version

    if (parser.isSet(listOpt)) {
        for (const BoardScenario &s : BoardScenario::all())
            std::printf("%-16s %s\n", qPrintable(s.name), qPrintable(s.summary));
        return 0;
    }
    BoardSim::Mode mode;
    if (!BoardSim::parseMode(parser.value(modeOpt), &mode)) {
        std::fprintf(stderr, "boardsim: unknown mode %s\n", qPrintable(parser.value(modeOpt)));
        return 2;
    }
    QStringList startLines;
    if (parser.isSet(scriptOpt)) {
        QFile f(parser.value(scriptOpt));
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
            std::fprintf(stderr, "boardsim: cannot read %s\n", qPrintable(f.fileName()));
            return 2;
        }
        startLines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    }
    ZQSerialCapture::Parsed capture;
    BoardReplay::Options replayOptions;
    if (parser.isSet(replayOpt)) {
        QFile f(parser.value(replayOpt));
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
            std::fprintf(stderr, "boardsim: cannot read %s\n", qPrintable(f.fileName()));
            return 2;
        }
        capture = ZQSerialCapture::parse(QString::fromUtf8(f.readAll()));
        // An edit gone wrong is better said at once than played around.
        for (const QString &e : qAsConst(capture.errors))
            std::fprintf(stderr, "boardsim: %s %s\n", qPrintable(f.fileName()), qPrintable(e));
        if (!capture.errors.isEmpty())
            return 2;
        if (!parser.isSet(modeOpt))
            mode = BoardReplay::modeOf(capture);
        bool ok = false;
        replayOptions.speed = parser.value(speedOpt).toDouble(&ok);
        if (!ok || replayOptions.speed <= 0) {
            std::fprintf(stderr, "boardsim: --speed needs a number above 0\n");
            return 2;
        }
        replayOptions.compare = parser.isSet(compareOpt);
        for (const QString &hex : parser.values(ignoreOpt)) {
            const QByteArray prefix = BoardSim::parseHex(hex, &ok);
            if (!ok) {
                std::fprintf(stderr, "boardsim: --ignore takes hex bytes, not %s\n", qPrintable(hex));
                return 2;
            }
            replayOptions.ignore << prefix;
        }
    } else if (parser.isSet(speedOpt) || parser.isSet(compareOpt) || parser.isSet(ignoreOpt)) {
        std::fprintf(stderr, "boardsim: --speed, --compare and --ignore go with --replay\n");
        return 2;
    }
    const QStringList scenarios = parser.values(scenarioOpt);
    for (const QString &name : scenarios) {
        if (BoardScenario::find(name).name.isEmpty()) {
            std::fprintf(stderr, "boardsim: no scenario named %s (see --list-scenarios)\n", qPrintable(name));
            return 2;
        }
        startLines << QStringLiteral("wait link") << QStringLiteral("scenario ") + name;
    }

    PtyLine line;
    QString error;
    const bool opened = parser.isSet(deviceOpt)
        ? line.openDevice(parser.value(deviceOpt), parser.value(lineBaudOpt).toInt(), &error)
        : line.openPty(&error);
    if (!opened) {
        std::fprintf(stderr, "boardsim: cannot open %s: %s\n",
                     qPrintable(parser.isSet(deviceOpt) ? parser.value(deviceOpt)
                                                        : QStringLiteral("a new pseudo-terminal")),
                     qPrintable(error));
        return 1;
    }
    if (parser.isSet(pathFileOpt)) {
        QSaveFile f(parser.value(pathFileOpt));
        if (f.open(QIODevice::WriteOnly)) {
            f.write(line.path().toLocal8Bit() + '\n');
            f.commit();
        }
    }
    const QString link = parser.value(linkOpt);
    if (!link.isEmpty()) {
        QFile::remove(link);
        if (!QFile::link(line.path(), link))
            std::fprintf(stderr, "boardsim: cannot create link %s\n", qPrintable(link));
    }

    // First line, for scripts and tests to pick up; the path file and the
    // link are in place by then.
    std::printf("%s %s\n", line.isPty() ? "PTY" : "DEVICE", qPrintable(line.path()));
    std::fflush(stdout);

    // A closed terminal ends the simulator too, so the link is removed.
    ZQTermSignalWatcher stopWatcher({SIGINT, SIGTERM, SIGHUP});
    QObject::connect(&stopWatcher, &ZQTermSignalWatcher::sigTerminate, &app, &QCoreApplication::quit);

    BoardSim sim(&line);
    sim.setMode(mode);
    sim.setAnswerBaud(parser.value(baudOpt).toInt());
    QObject::connect(&sim, &BoardSim::quitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    sim.note(QStringLiteral("board %1%2, waiting for the PC")
                 .arg(BoardSim::modeName(mode))
                 .arg(parser.value(baudOpt).toInt() > 0
                          ? QStringLiteral(", answering at %1 baud only").arg(parser.value(baudOpt))
                          : QString()));
    std::unique_ptr<BoardReplay> replay;
    if (parser.isSet(replayOpt)) {
        replay = std::make_unique<BoardReplay>(&sim, capture, replayOptions);
        sim.note(QStringLiteral("replaying %1: %2 frames of the board").arg(parser.value(replayOpt)).arg(replay->boardFrames()));
        if (replayOptions.compare) {
            QObject::connect(replay.get(), &BoardReplay::finished, &app, [](int differences) {
                QCoreApplication::exit(differences > 0 ? 3 : 0);
            }, Qt::QueuedConnection);
        }
    }
    StdinLines stdinLines(&sim, parser.isSet(eofOpt), &app);
    sim.enqueue(startLines);

    const int rc = app.exec();
    if (!link.isEmpty())
        QFile::remove(link);
    return rc;
}
