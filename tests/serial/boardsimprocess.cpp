#include "boardsimprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>

BoardSimProcess::BoardSimProcess(QObject *parent)
    : QObject(parent)
{
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &BoardSimProcess::readOutput);
}

BoardSimProcess::~BoardSimProcess()
{
    stop();
}

bool BoardSimProcess::start(const QStringList &arguments)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(VELA_BIN_DIR "/boardsim"), QStringList{QStringLiteral("--quit-on-eof")} + arguments);
    if (!m_process.waitForStarted(5000))
        return false;
    QDeadlineTimer deadline(5000);
    while (m_path.isEmpty() && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(100);
        readOutput();
    }
    return !m_path.isEmpty();
}

void BoardSimProcess::command(const QString &line)
{
    m_process.write(line.toLocal8Bit() + '\n');
    m_process.waitForBytesWritten(1000);
}

void BoardSimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    readOutput();
}

int BoardSimProcess::waitForEnd(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
        m_process.waitForFinished(50);
    readOutput();
    return m_process.state() == QProcess::NotRunning ? m_process.exitCode() : -1;
}

void BoardSimProcess::readOutput()
{
    static const QRegularExpression rx(QStringLiteral(
        "^\\[\\S+ \\+(\\d+\\.\\d+)\\] RX ((?:[0-9A-F]{2} )*[0-9A-F]{2})  baud=(-?\\d+) data=(\\d) "
        "parity=(\\w+) stop=(\\S+) flow=(\\w+)"));
    m_partial.append(m_process.readAllStandardOutput());
    int nl;
    while ((nl = m_partial.indexOf('\n')) >= 0) {
        const QString line = QString::fromLocal8Bit(m_partial.left(nl));
        m_partial.remove(0, nl + 1);
        m_lines << line;
        if (m_path.isEmpty() && line.startsWith(QLatin1String("PTY ")))
            m_path = line.mid(4).trimmed();
        const QRegularExpressionMatch m = rx.match(line);
        if (!m.hasMatch())
            continue;
        Received r;
        r.seconds = m.captured(1).toDouble();
        r.frame = QByteArray::fromHex(m.captured(2).toLatin1());
        r.baud = m.captured(3).toInt();
        r.dataBits = m.captured(4).toInt();
        r.parity = m.captured(5);
        r.stopBits = m.captured(6);
        r.flow = m.captured(7);
        m_received << r;
    }
}

// What the simulator printed may still sit in the pipe when the event loop
// has not come round to it: the board prints a frame before it answers, so a
// test that saw the answer must also see the frame.
void BoardSimProcess::drain()
{
    while (m_process.state() == QProcess::Running && m_process.waitForReadyRead(0)) {
    }
    readOutput();
}

QList<BoardSimProcess::Received> BoardSimProcess::received()
{
    drain();
    return m_received;
}

QList<BoardSimProcess::Received> BoardSimProcess::received(const QByteArray &frame)
{
    QList<Received> out;
    const auto all = received();
    for (const Received &r : all)
        if (r.frame == frame)
            out << r;
    return out;
}

QStringList BoardSimProcess::output()
{
    drain();
    return m_lines;
}
