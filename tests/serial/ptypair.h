#ifndef PTYPAIR_H
#define PTYPAIR_H

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <atomic>
#include <thread>

// A pseudo-terminal pair for tests: the code under test opens slavePath()
// with QSerialPort; the test writes to the master and collects what arrives
// there on a thread of its own, time-stamping every frame as it completes.
class PtyPair
{
public:
    struct Arrival
    {
        qint64 ms; // since the pair was made
        QByteArray frame;
    };

    PtyPair();
    ~PtyPair();

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    void writeMaster(const QByteArray &bytes);
    QList<Arrival> frames() const;
    int frameCount() const;
    // Bytes received after the last whole frame: a frame cut off leaves some.
    int pendingBytes() const;
    // Closes the master, as a pulled cable does: writes to the slave fail
    // from then on.
    void hangUp();

private:
    void readLoop();

    int m_master = -1;
    int m_slave = -1; // kept open so the line survives the port closing
    QString m_slavePath;
    std::atomic<bool> m_stop{false};
    mutable QMutex m_mutex;
    QByteArray m_stream;
    QList<Arrival> m_frames;
    std::thread m_thread;
};

#endif
