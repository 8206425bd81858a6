#ifndef PTYLINE_H
#define PTYLINE_H

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The board's end of a serial line: a fresh pseudo-terminal pair (the other
// program opens the slave path) or an existing device.
class PtyLine : public QObject
{
    Q_OBJECT
public:
    // Line settings as the other side set them.
    struct Settings
    {
        int baud = 0;
        int dataBits = 8;
        QString parity;   // none, even, odd, mark, space
        QString stopBits; // 1 or 2
        QString flow;     // none, hardware, software
    };

    explicit PtyLine(QObject *parent = nullptr);
    ~PtyLine() override;

    bool openPty(QString *error);
    bool openDevice(const QString &path, int baud, QString *error);

    // Path for the other side to open.
    QString path() const { return m_path; }
    bool isPty() const { return m_isPty; }
    Settings settings() const;
    qint64 write(const QByteArray &bytes);

    static QString describe(const Settings &s);

signals:
    void received(QByteArray bytes);

private:
    void watch();
    void onReadable();

    int m_fd = -1;       // master of the pair, or the device
    int m_slaveFd = -1;  // held open so the other side may close and reopen
    bool m_isPty = false;
    QString m_path;
    QSocketNotifier *m_notifier = nullptr;
};

#endif
