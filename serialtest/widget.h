#ifndef WIDGET_H
#define WIDGET_H

#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class testThread;

// The bench window: a text to send on the bus, the counters, the last text
// received, and the buttons for one text and for the endless frame pattern.
class Widget : public QWidget
{
    Q_OBJECT
public:
    // `portName` pins the serial port; empty: the first one listed.
    explicit Widget(const QString &portName = QString(), QWidget *parent = nullptr);
    ~Widget() override;

public slots:
    void slotCircleSendStart();
    void slotCircleSendStop();
    void slotSend();
    void slotReciveMsg(QString text);

private slots:
    void slotBusState(int state);
    void slotWritten(int result);

private:
    void showStatus();

    testThread *m_thread;
    QPlainTextEdit *m_textEdit;
    QLineEdit *m_reciveLine;
    QLabel *m_reciveCountLabel;
    QLabel *m_sendCountLabel;
    int m_reciveCount = 0;
    int m_sendCount = 0;

    // Failures are shown here rather than lost.
    QLabel *m_statusLabel;
    QString m_busStatus;
    QString m_portStatus;
    int m_framesWritten = 0;
    int m_framesFailed = 0;
};

#endif // WIDGET_H
