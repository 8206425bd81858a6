#include "zqscenariosingleapp.h"

#include "centerlogging.h"

#include <QDataStream>
#include <QDebug>
#include <QDeadlineTimer>
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

QString basePath(const QString &id)
{
    // One copy per user: the user id keeps two users of one machine apart.
    QString safe = id;
    for (QChar &c : safe) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('_'))
            c = QLatin1Char('_');
    }
    return QDir::tempPath() + QStringLiteral("/qtsingleapp-%1-%2").arg(safe).arg(getuid());
}

} // namespace

ZQScenarioSingleApp::ZQScenarioSingleApp(const QString &id, int &argc, char **argv)
    : QApplication(argc, argv), m_id(id)
{
    m_lock = new QLockFile(basePath(id) + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0); // a lock counts as stale only when its holder is gone
    if (!m_lock->tryLock(0)) {
        m_running = m_lock->error() == QLockFile::LockFailedError;
        if (!m_running)
            qCWarning(lcCore) << "single instance lock unusable" << basePath(id);
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
    return basePath(m_id) + QStringLiteral(".sock");
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
            qCDebug(lcCore) << "single instance message" << message;
            emit messageReceived(message);
        });
        // A client that connects and never writes must not stay forever.
        QTimer::singleShot(10000, socket, [socket]() { socket->abort(); });
    }
}
