#include "velacentertestdialog.h"

#include <QLabel>
#include <QSerialPortInfo>
#include <QTimer>
#include <QVBoxLayout>

VelaCenterTestDialog::VelaCenterTestDialog(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(10, 10);
    QTimer::singleShot(2000, this, &QWidget::hide);

    auto *label = new QLabel(this);
    label->setStyleSheet(QStringLiteral("QLabel{border:0px;background-color:transparent;font-family:Microsoft YaHei;"
                                        "font-size: %1px;color:#333333;font-weight:bold;}")
                             .arg(16));
    label->setFixedWidth(180);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);

    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    label->setText(QStringLiteral("Name : ") + (ports.isEmpty() ? QString() : ports.last().systemLocation()));
}
