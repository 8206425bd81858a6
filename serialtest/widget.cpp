#include "widget.h"

#include "testthread.h"
#include "zqipc.h"
#include "zqserialport.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

Widget::Widget(const QString &portName, QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("serialtest"));
    m_thread = new testThread(this);
    m_thread->serialPort()->setPortName(portName);

    m_textEdit = new QPlainTextEdit(this);
    m_textEdit->setObjectName(QStringLiteral("textEdit"));
    m_textEdit->setFixedHeight(500);
    m_reciveLine = new QLineEdit(this);
    m_reciveLine->setObjectName(QStringLiteral("reciveLine"));
    m_reciveLine->setFixedHeight(100);
    m_reciveCountLabel = new QLabel(QStringLiteral("reciveCount0"), this);
    m_reciveCountLabel->setObjectName(QStringLiteral("reciveCountLabel"));
    m_sendCountLabel = new QLabel(QStringLiteral("sendCount0"), this);
    m_sendCountLabel->setObjectName(QStringLiteral("sendCountLabel"));
    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    // One line per status, never wrapped: the layout then knows the room the
    // status needs, and the window grows when a line gets longer.
    m_statusLabel->setWordWrap(false);

    auto *sendOne = new QPushButton(QStringLiteral("send one"), this);
    sendOne->setFixedHeight(30);
    auto *start = new QPushButton(QStringLiteral("circle send start"), this);
    auto *stop = new QPushButton(QStringLiteral("circle send stop"), this);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(start);
    buttons->addWidget(stop);
    auto *layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    layout->addWidget(m_textEdit);
    layout->addWidget(m_reciveCountLabel);
    layout->addWidget(m_sendCountLabel);
    layout->addWidget(m_reciveLine);
    layout->addWidget(sendOne);
    layout->addLayout(buttons);
    layout->addWidget(m_statusLabel);

    connect(sendOne, &QPushButton::clicked, this, &Widget::slotSend);
    connect(start, &QPushButton::clicked, this, &Widget::slotCircleSendStart);
    connect(stop, &QPushButton::clicked, this, &Widget::slotCircleSendStop);
    connect(m_thread, &testThread::sigReciveMsg, this, &Widget::slotReciveMsg);
    connect(m_thread, &testThread::sigBusState, this, &Widget::slotBusState);
    connect(m_thread->serialPort(), &ZQSerialPort::sigWritten, this, &Widget::slotWritten);

    m_portStatus = portName.isEmpty() ? QStringLiteral("port: not opened yet")
                                      : QStringLiteral("port: %1, not opened yet").arg(portName);
    slotBusState(m_thread->busState());
}

Widget::~Widget()
{
    m_thread->stopSending();
}

void Widget::slotSend()
{
    ++m_sendCount;
    m_sendCountLabel->setText(QStringLiteral("sendCount") + QString::number(m_sendCount));
    m_thread->sendMsg(m_textEdit->toPlainText());
}

void Widget::slotCircleSendStart()
{
    if (m_thread->openPort())
        m_portStatus = QStringLiteral("port: %1 open").arg(m_thread->serialPort()->portName());
    else
        m_portStatus = QStringLiteral("port: ") + m_thread->serialPort()->errorText();
    showStatus();
    m_thread->start(QThread::InheritPriority);
}

void Widget::slotCircleSendStop()
{
    m_thread->stopSending();
}

void Widget::slotReciveMsg(QString text)
{
    ++m_reciveCount;
    m_reciveLine->setText(text);
    m_reciveCountLabel->setText(QString::number(m_reciveCount));
}

void Widget::slotBusState(int state)
{
    switch (state) {
    case testThread::BusJoined:
        m_busStatus = QStringLiteral("bus: connected as ID_APP_SERIALTEST");
        break;
    case testThread::BusLost:
        m_busStatus = QStringLiteral("bus: lost, joining again when the hub is back");
        break;
    default:
        m_busStatus = QStringLiteral("bus: not reachable at 127.0.0.1:%1, trying again;"
                                     " texts are counted but not delivered")
                          .arg(ZQIPC::busPort());
        break;
    }
    showStatus();
}

void Widget::slotWritten(int result)
{
    if (result < 0)
        ++m_framesFailed;
    else
        ++m_framesWritten;
    showStatus();
}

void Widget::showStatus()
{
    QString frames = QStringLiteral("frames written: %1").arg(m_framesWritten);
    if (m_framesFailed > 0)
        frames += QStringLiteral(", not written: %1").arg(m_framesFailed);
    m_statusLabel->setText(m_busStatus + QLatin1Char('\n') + m_portStatus + QLatin1Char('\n') + frames);
}
