#ifndef ZQSERIALCAPTURE_H
#define ZQSERIALCAPTURE_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <mutex>

// A record of the serial line: every frame read from and written to the
// mainboard, one line each, in a plain text file that a person can read and
// edit and that boardsim --replay plays back:
//
//   # vela serial capture, started 2024-05-02 10:15:02.113
//   # seconds since the start, wall clock, who sent the frame (PC or BOARD), its bytes
//   # +0.000 port /dev/ttyS1 opened at 115200 baud
//   +0.000 10:15:02.113 PC 7F 08 99 A2 B3 C4 02 FF 01 49 CF
//   +0.012 10:15:02.125 BOARD 7F 09 99 A2 B3 C4 02 FF 01 49 00 CF
//   ...
//   # +1.016 link up, version 2
//
// Lines starting with "#" are remarks, most with their time; "link up" and
// "link lost" remarks mark where the link came and went. The file is bounded: once it would grow past
// the limit it becomes "<file>.1" (replacing the one before) and a new file
// starts, so a capture never takes more than twice the limit.
//
// Safe from any thread: the reader, the writer and the port's own thread
// record into one capture.
class ZQSerialCapture
{
public:
    enum Direction { FromBoard, ToBoard };

    struct Entry
    {
        int line = 0;          // in the text, from 1
        qint64 ms = 0;         // since the capture started
        Direction direction = FromBoard;
        QByteArray frame;
    };

    struct Parsed
    {
        QList<Entry> entries;
        QList<QPair<qint64, int>> linkUps; // time (ms) and link version of each "# link up"
        QList<qint64> linkLosses;          // time (ms) of each "# link lost"
        QStringList errors;                // "line N: ..." for lines that are not understood
    };

    static constexpr qint64 DefaultMaxBytes = 4 * 1024 * 1024;

    ZQSerialCapture() = default;
    ~ZQSerialCapture();
    ZQSerialCapture(const ZQSerialCapture &) = delete;
    ZQSerialCapture &operator=(const ZQSerialCapture &) = delete;

    // Starts a capture into `path` (a file there before becomes "<path>.1");
    // false with errorString() when the file cannot be made. An empty path
    // ends the capture. The file is made afresh and never through a symbolic
    // link, so a capture in a shared folder cannot be redirected.
    bool open(const QString &path, qint64 maxBytes = DefaultMaxBytes);
    void close();
    bool isOpen() const;
    QString path() const;
    QString errorString() const;

    void frame(Direction direction, const QByteArray &bytes);
    void remark(const QString &text);

    // "+1.234 10:15:02.113 PC 7F 08 ..." for one frame.
    static QString formatLine(qint64 ms, const QString &wallClock, Direction direction,
                              const QByteArray &bytes);
    // Reads a whole capture. Frame lines need the time and the sender; the
    // wall clock may be left out, and the bytes may be written with or
    // without blanks between them.
    static Parsed parse(const QString &text);
    static QString directionWord(Direction direction);

private:
    bool openFresh(QString *error);
    void writeLine(const QString &line);

    // A standard mutex: ThreadSanitizer sees its order, which it cannot for
    // QMutex (locked inside the uninstrumented Qt library).
    mutable std::mutex m_mutex;
    QString m_path;
    QString m_error;
    qint64 m_maxBytes = DefaultMaxBytes;
    qint64 m_size = 0;
    int m_fd = -1;
    QElapsedTimer m_clock;
};

#endif
