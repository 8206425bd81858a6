#include "zqscenariosingleapp.h"

#include "centerlogging.h"
#include "zqprivatedir.h"

#include <QDataStream>
#include <QDebug>
#include <QDeadlineTimer>
#include <QHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QTimer>

#include <unistd.h>

namespace {

// Length of the text in front, then the UTF-8 bytes; the receiver answers
// with one byte once it has the whole text.
const char kAck = '\x06';

// Lock file and socket of the guard, without their endings; empty when this
// user has no folder of its own for them.
//
// One copy per user: the lock and the socket live in a folder that only this
// user may enter ("Tavolix-<uid>" in the temporary folder, made with mode
// 0700). In a shared temporary folder another account could otherwise put a
// lock or a socket of its own under the expected name: the centre would then
// believe a copy runs and hand its arguments to a stranger, or not start.
// Should that folder's name be taken by someone else, the user's runtime
// folder is used, with the temporary folder's name folded into the file name
// so that copies with another $TMPDIR stay apart as before.
QString basePath(const QString &id)
{
    QString safe = id;
    for (QChar &c : safe) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('_'))
            c = QLatin1Char('_');
    }
    // Qt gives no temporary folder when $TMPDIR names one that does not exist.
    const QString temp = QDir::tempPath().isEmpty() ? QStringLiteral("/tmp") : QDir::tempPath();
    const QString own = temp + QStringLiteral("/Tavolix-%1").arg(::geteuid());
    QString why;
    if (ZQPrivateDir::ensure(temp, own, 077, &why))
        return own + QStringLiteral("/singleapp-") + safe;
    const QString runtime = ZQPrivateDir::runtimeDir();
    QString whyRuntime;
    if (!runtime.isEmpty()
        && ZQPrivateDir::ensure(runtime, runtime + QStringLiteral("/Tavolix"), 077, &whyRuntime)) {
        qCWarning(lcCore).noquote() << "single instance guard:" << why << "- using" << runtime + QStringLiteral("/Tavolix");
        return runtime + QStringLiteral("/Tavolix/singleapp-%1-%2").arg(safe).arg(qHash(temp), 8, 16, QLatin1Char('0'));
    }
    qCWarning(lcCore).noquote() << "single instance guard off:" << why
                                << "and no private runtime folder ($XDG_RUNTIME_DIR)";
    return QString();
}

} // namespace

ZQScenarioSingleApp::ZQScenarioSingleApp(const QString &id, int &argc, char **argv)
    : QApplication(argc, argv), m_id(id), m_base(basePath(id))
{
    if (m_base.isEmpty())
        return; // no guard: this copy runs as the first
    m_lock = new QLockFile(m_base + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0); // a lock counts as stale only when its holder is gone
    if (!m_lock->tryLock(0)) {
        m_running = m_lock->error() == QLockFile::LockFailedError;
        if (!m_running)
            qCWarning(lcCore) << "single instance lock unusable" << m_base;
        return;
    }

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, any socket file left here belongs to a dead copy.
    QLocalServer::removeServer(socketPath());
    if (!m_server->listen(socketPath()))
        qCWarning(lcCore) << "single instance listen failed" << m_server->errorString();
    connect(m_server, &QLocalServer::newConnection, this, &ZQScenarioSingleApp::slotNewConnection);
}

ZQScenarioSingleApp::~ZQScenarioSingleApp()
{
    if (m_server) {
        m_server->close();
        delete m_server;
        m_server = nullptr;
    }
    delete m_lock; // unlocks
}

QString ZQScenarioSingleApp::id() const
{
    return m_id;
}

bool ZQScenarioSingleApp::isRunning() const
{
    return m_running;
}

QString ZQScenarioSingleApp::socketPath() const
{
    return m_base + QStringLiteral(".sock");
}

QString ZQScenarioSingleApp::guardPath() const
{
    return m_base;
}

bool ZQScenarioSingleApp::sendMessage(const QString &message, int timeout)
{
    if (!m_running)
        return false;
    const QByteArray text = message.toUtf8();
    if (text.size() > kMaxMessageBytes)
        return false;

    QDeadlineTimer deadline(timeout);
    QLocalSocket socket;
    // The first copy may hold the lock a moment before it listens.
    for (;;) {
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(int(qMax<qint64>(0, deadline.remainingTime()))))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
        if (deadline.hasExpired())
            return false;
    }

    QByteArray packet;
    QDataStream out(&packet, QIODevice::WriteOnly);
    out << quint32(text.size());
    packet.append(text);
    socket.write(packet);
    if (!socket.waitForBytesWritten(int(qMax<qint64>(0, deadline.remainingTime()))))
        return false;
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(int(qMax<qint64>(0, deadline.remainingTime()))))
            return false;
    }
    const bool acknowledged = socket.read(1) == QByteArray(1, kAck);
    socket.disconnectFromServer();
    return acknowledged;
}

void ZQScenarioSingleApp::slotNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket]() {
            if (socket->bytesAvailable() < qint64(sizeof(quint32)))
                return;
            QDataStream in(socket->peek(sizeof(quint32)));
            quint32 size = 0;
            in >> size;
            if (size > quint32(kMaxMessageBytes)) {
                qCWarning(lcCore) << "single instance message too long" << size;
                socket->abort();
                return;
            }
            if (socket->bytesAvailable() < qint64(sizeof(quint32) + size))
                return;
            socket->read(sizeof(quint32));
            const QString message = QString::fromUtf8(socket->read(size));
            socket->write(&kAck, 1);
            socket->flush();
            // Someone started the centre again: worth seeing without traces.
            qCInfo(lcCore) << "single instance message" << message;
            emit messageReceived(message);
        });
        // A client that connects and never writes must not stay forever.
        QTimer::singleShot(10000, socket, [socket]() { socket->abort(); });
    }
}
