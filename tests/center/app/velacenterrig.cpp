#include "velacenterrig.h"

#include "zqipc.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTimer>

const QByteArray VelaCenterRig::kStartupFrame4 = QByteArray::fromHex("7F0899A2B3C402FF018ACF");
const char *const VelaCenterRig::kClientId = "ID_APP_E2E_TEST";

namespace {

const QString binDir()
{
    return QStringLiteral(VELA_BIN_DIR);
}

// Sleeps in the event loop until something happens, and looks at the
// condition after every batch of events: a fixed sleep between passes would
// add its length (twice, before and after the event) to every figure the
// benchmark takes. The tick only bounds the wait for the time-out.
bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QTimer tick;
    tick.start(20);
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace

VelaCenterRig::VelaCenterRig()
{
    m_board.setProcessChannelMode(QProcess::MergedChannels);
    connect(&m_board, &QProcess::readyReadStandardOutput, this, &VelaCenterRig::readBoard);
    m_centre.setProcessChannelMode(QProcess::MergedChannels);
    connect(&m_centre, &QProcess::readyReadStandardOutput, this,
            [this]() { m_centreOutput += m_centre.readAllStandardOutput(); });
}

VelaCenterRig::~VelaCenterRig()
{
    delete m_bus;
    m_bus = nullptr;
    for (QProcess *p : {&m_centre, &m_board}) {
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
    // The log folder lies outside the temporary folder ("/tmp" in front).
    QDir(QStringLiteral("/tmp") + m_dir.path()).removeRecursively();
}

QString VelaCenterRig::error() const
{
    return m_error;
}

QString VelaCenterRig::folder() const
{
    return m_dir.path();
}

QString VelaCenterRig::tempFolder() const
{
    return m_dir.filePath(QStringLiteral("tmp"));
}

QString VelaCenterRig::logDir() const
{
    // The logger's folder: "/tmp", the temporary location up to its last "/",
    // "Tavolix/", the application name and "/Log".
    return QStringLiteral("/tmp") + m_dir.path() + QStringLiteral("/Tavolix/VelaCenter/Log");
}

QProcess &VelaCenterRig::centre()
{
    return m_centre;
}

QString VelaCenterRig::centreOutput()
{
    if (m_centre.openMode() & QIODevice::ReadOnly)
        m_centreOutput += m_centre.readAllStandardOutput();
    return QString::fromUtf8(m_centreOutput);
}

bool VelaCenterRig::start(const Options &options)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    QDir().mkpath(tempFolder());
    m_options = options;
    if (options.programDir.isEmpty()) {
        const QStringList files = {QStringLiteral("velacenter"), QStringLiteral("DiscCommand.xml"),
                                   QStringLiteral("control.xml"), QStringLiteral("SmSc.xml"),
                                   QStringLiteral("apps.ini")};
        for (const QString &f : files) {
            const QString from = binDir() + QLatin1Char('/') + f;
            if (QFile::exists(from) && !QFile::copy(from, m_dir.filePath(f))) {
                m_error = QStringLiteral("cannot copy ") + from;
                return false;
            }
        }
    }
    if (!QFile::exists(programPath(QStringLiteral("velacenter")))) {
        m_error = QStringLiteral("no velacenter at ") + programPath(QStringLiteral("velacenter"));
        return false;
    }
    if (!startBoard(options.boardMode, options.boardLink) || !startCentre(options) || !connectBus(15000))
        return false;
    if (options.waitForLink && !waitForLink(20000)) {
        m_error = QStringLiteral("link did not come up; centre said:\n") + centreOutput().right(3000);
        return false;
    }
    return true;
}

QString VelaCenterRig::programPath(const QString &name) const
{
    // The simulator always comes from the build unless a program folder is given.
    const QString dir = !m_options.programDir.isEmpty() ? m_options.programDir
                        : name == QLatin1String("velacenter") ? m_dir.path() : binDir();
    return dir + QLatin1Char('/') + name;
}

bool VelaCenterRig::startBoard(const QString &mode, const QString &link)
{
    QStringList args{QStringLiteral("--mode"), mode};
    if (!link.isEmpty())
        args << QStringLiteral("--link") << link;
    args << m_options.boardArgs;
    m_board.start(programPath(QStringLiteral("boardsim")), args);
    if (!m_board.waitForStarted(5000)) {
        m_error = QStringLiteral("boardsim did not start");
        return false;
    }
    if (!waitUntil([this]() { return !m_pty.isEmpty() || m_board.state() == QProcess::NotRunning; }, 10000)
        || m_pty.isEmpty()) {
        m_error = QStringLiteral("boardsim gave no pseudo-terminal");
        return false;
    }
    return true;
}

QProcessEnvironment VelaCenterRig::centreEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Own temporary folder: single-instance lock and log folder of this rig only.
    env.insert(QStringLiteral("TMPDIR"), tempFolder());
    // Without an X display the centre's windows are drawn off screen, as in
    // scripts/run.sh, instead of the program ending at start-up.
    if (!env.contains(QStringLiteral("DISPLAY")) && !env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The tests follow the centre through its trace lines (debug lines, off
    // by default); an entry of Options::environment can set other rules.
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("vela.*.debug=true"));
    for (const QString &entry : m_environment)
        env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    return env;
}

void VelaCenterRig::stopBoard()
{
    if (m_board.state() == QProcess::NotRunning)
        return;
    m_board.terminate();
    if (!m_board.waitForFinished(5000)) {
        m_board.kill();
        m_board.waitForFinished(5000);
    }
    readBoard();
}

bool VelaCenterRig::startBoardAgain(const QString &mode, const QString &link)
{
    stopBoard();
    m_pty.clear();
    m_boardPartial.clear();
    return startBoard(mode, link);
}

bool VelaCenterRig::writeSettings(const QString &portName)
{
    if (!m_options.programDir.isEmpty()) {
        // Settings that came with the programs: only the port is set, in the
        // file a link beside the program leads to, as an integrator would.
        const QString path = QFileInfo(programPath(QStringLiteral("version.ini"))).canonicalFilePath();
        if (path.isEmpty()) {
            m_error = QStringLiteral("no version.ini (or a dangling link) in ") + m_options.programDir;
            return false;
        }
        QSettings ini(path, QSettings::IniFormat);
        ini.setValue(QStringLiteral("COM/PortName"), portName);
        ini.sync();
        if (ini.status() != QSettings::NoError) {
            m_error = QStringLiteral("cannot write ") + path;
            return false;
        }
        return true;
    }
    // Written aside and renamed: the centre may read the file at any moment.
    const QString path = m_dir.filePath(QStringLiteral("version.ini"));
    QFile ini(path + QStringLiteral(".new"));
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = QStringLiteral("cannot write version.ini");
        return false;
    }
    ini.write(QStringLiteral("[COM]\nPortName=%1\n%2\n").arg(portName, m_options.extraIni).toUtf8());
    ini.close();
    m_portName = portName;
    QFile::remove(path);
    return QFile::rename(ini.fileName(), path);
}

bool VelaCenterRig::setPortName(const QString &name)
{
    return writeSettings(name);
}

bool VelaCenterRig::setExtraIni(const QString &text)
{
    m_options.extraIni = text;
    return writeSettings(m_portName);
}

bool VelaCenterRig::stopCentre(int timeoutMs)
{
    m_centre.terminate();
    const bool ended = m_centre.waitForFinished(timeoutMs);
    centreOutput();
    return ended;
}

bool VelaCenterRig::startCentreAgain()
{
    return startCentre(m_options);
}

bool VelaCenterRig::startCentre(const Options &options)
{
    const QString port = !options.portName.isEmpty() ? options.portName
                         : !options.boardLink.isEmpty() ? options.boardLink : m_pty;
    if (!writeSettings(port))
        return false;

    m_environment = options.environment;
    if (options.quietCentre)
        m_centre.setStandardOutputFile(QProcess::nullDevice());
    m_centre.setProcessEnvironment(centreEnvironment());
    m_centre.setWorkingDirectory(m_dir.path());
    m_centre.start(programPath(QStringLiteral("velacenter")), options.args);
    if (!m_centre.waitForStarted(5000)) {
        m_error = QStringLiteral("velacenter did not start");
        return false;
    }
    return true;
}

bool VelaCenterRig::connectBus(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    // A facade whose connect failed refuses further tries; take a new one.
    while (timer.elapsed() < timeoutMs) {
        if (m_centre.state() == QProcess::NotRunning) {
            m_error = QStringLiteral("velacenter ended early:\n") + centreOutput().right(3000);
            return false;
        }
        auto *bus = new ZQIPC;
        // Rejoins by itself when a test restarts the centre.
        bus->setReconnecting(true);
        if (bus->createTcpClient(QString::fromLatin1(kClientId), "127.0.0.1", 23334)) {
            m_bus = bus;
            connect(m_bus, &ZQIPC::sigRecvInfo, this, [this](const QString &text) {
                if (text != QLatin1String("succeful"))
                    m_busMessages << text;
            });
            m_bus->registerMsgAccept(QStringLiteral("ID_APP_VELACENTER"));
            return true;
        }
        delete bus;
        QTest::qWait(100);
    }
    m_error = QStringLiteral("bus hub of velacenter not reachable");
    return false;
}

bool VelaCenterRig::waitForLink(int timeoutMs)
{
    return waitBoardReceived(kStartupFrame4, timeoutMs);
}

void VelaCenterRig::readBoard()
{
    static const QRegularExpression rx(QStringLiteral("\\] RX ((?:[0-9A-F]{2} ?)+)"));
    m_boardPartial += m_board.readAllStandardOutput();
    int nl;
    while ((nl = m_boardPartial.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_boardPartial.left(nl));
        m_boardPartial.remove(0, nl + 1);
        m_boardLines << line;
        if (m_pty.isEmpty() && line.startsWith(QLatin1String("PTY "))) {
            m_pty = line.mid(4).trimmed();
            continue;
        }
        const QRegularExpressionMatch m = rx.match(line);
        if (m.hasMatch())
            m_boardRx << QByteArray::fromHex(m.captured(1).toLatin1());
    }
}

void VelaCenterRig::boardSend(const QString &line)
{
    m_board.write(line.toUtf8() + '\n');
}

QProcess &VelaCenterRig::board()
{
    return m_board;
}

QStringList VelaCenterRig::boardOutput()
{
    readBoard();
    return m_boardLines;
}

QList<QByteArray> VelaCenterRig::boardReceived() const
{
    return m_boardRx;
}

int VelaCenterRig::boardReceivedCount() const
{
    return m_boardRx.size();
}

bool VelaCenterRig::waitBoardReceived(const QByteArray &frame, int timeoutMs, int fromIndex)
{
    return waitUntil([&]() { return m_boardRx.indexOf(frame, fromIndex) >= 0; }, timeoutMs);
}

int VelaCenterRig::flushToBoard(int timeoutMs)
{
    const QByteArray marker = QByteArray::fromHex("E9EE") + QByteArray::number(++m_flushes);
    const int from = boardReceivedCount();
    sendToCentre(eventAny(marker, QStringLiteral("ID_APP_VELACENTER")));
    if (!waitBoardReceived(frameOf(marker), timeoutMs, from))
        return -1;
    return m_boardRx.indexOf(frameOf(marker), from);
}

bool VelaCenterRig::answerScreenInfo(int timeoutMs)
{
    boardSend(QStringLiteral("frame E3 04 61 2D 31")); // "a-1"
    // The next tick of the polling timer sees the answer and stops it.
    return waitUntil([this]() { return centreOutput().contains(QLatin1String("slotInfoTimer stop")); }, timeoutMs)
           && flushToBoard() >= 0;
}

QStringList VelaCenterRig::busMessages() const
{
    return m_busMessages;
}

bool VelaCenterRig::waitBusMessage(const std::function<bool(const QJsonObject &)> &match,
                                   int timeoutMs, QJsonObject *found, int fromIndex)
{
    int next = fromIndex;
    return waitUntil([&]() {
        for (; next < m_busMessages.size(); ++next) {
            const QJsonObject obj = QJsonDocument::fromJson(m_busMessages.at(next).toUtf8()).object();
            if (match(obj)) {
                if (found)
                    *found = obj;
                return true;
            }
        }
        return false;
    }, timeoutMs);
}

int VelaCenterRig::busSend(const QString &target, const QString &text)
{
    return m_bus ? m_bus->sentInfo(target, text) : -1;
}

void VelaCenterRig::closeBus()
{
    delete m_bus;
    m_bus = nullptr;
}

int VelaCenterRig::sendToCentre(const QJsonObject &message)
{
    return busSend(QStringLiteral("ID_APP_VELACENTER"),
                   QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

QJsonObject VelaCenterRig::eventAny(const QByteArray &payload, const QString &to)
{
    QJsonObject obj;
    obj.insert(QStringLiteral("eventid"), QStringLiteral("EVENT_ANY"));
    obj.insert(QStringLiteral("from"), QString::fromLatin1(kClientId));
    if (!to.isNull())
        obj.insert(QStringLiteral("to"), to);
    obj.insert(QStringLiteral("param"), QString::fromLatin1(payload.toBase64()));
    return obj;
}

std::function<bool(const QJsonObject &)> VelaCenterRig::eventAnyWithParam(const QByteArray &payload)
{
    const QString param = QString::fromLatin1(payload.toBase64());
    return [param](const QJsonObject &o) {
        return o.value(QStringLiteral("eventid")).toString() == QLatin1String("EVENT_ANY")
               && o.value(QStringLiteral("param")).toString() == param;
    };
}

QByteArray VelaCenterRig::frameOf(const QByteArray &payload)
{
    QByteArray frame = QByteArray::fromHex("7F0099A2B3C402FF") + payload;
    frame.append(char(0xCF));
    frame[1] = char(frame.size() - 3);
    return frame;
}

int VelaCenterRig::runSecondCopy(const QStringList &args, QString *output, int timeoutMs)
{
    QProcess copy;
    copy.setProcessChannelMode(QProcess::MergedChannels);
    copy.setProcessEnvironment(centreEnvironment());
    copy.start(programPath(QStringLiteral("velacenter")), args);
    if (!copy.waitForStarted(5000))
        return -100;
    // This process's bus client keeps its events flowing while we wait.
    if (!waitUntil([&]() { return copy.state() == QProcess::NotRunning; }, timeoutMs)) {
        copy.kill();
        copy.waitForFinished(5000);
        return -101;
    }
    if (output)
        *output = QString::fromUtf8(copy.readAll());
    return copy.exitStatus() == QProcess::NormalExit ? copy.exitCode() : -102;
}
