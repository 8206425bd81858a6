#include "widget.h"

#include "strokeaccexe.h"

#include <QPushButton>

Widget::Widget(bool debugWindow, QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("VelaAcc"));
    if (debugWindow) {
        resize(600, 400);
        const struct { const char *name; const char *label; int y; } buttons[] = {
            {"pushButton", "Show", 50}, {"pushButton_2", "Screen", 160}, {"pushButton_3", "Switch", 270}};
        for (const auto &b : buttons) {
            auto *button = new QPushButton(QString::fromLatin1(b.label), this);
            button->setObjectName(QString::fromLatin1(b.name));
            button->setGeometry(150, b.y, 300, 90);
        }
        QMetaObject::connectSlotsByName(this);
    } else {
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
        // A tool window does not end the program when it closes; this one,
        // the agent's only window, does.
        setAttribute(Qt::WA_QuitOnClose, true);
        setGeometry(-9999, -9999, 1, 1);
    }
    m_exe = strokeAccExeInit();
}

Widget::~Widget()
{
    strokeAccExeFree(m_exe);
}

void Widget::on_pushButton_clicked()
{
    const int result = m_exe->showStrokeAccColorWindow(0xFF0000);
    QString title = windowTitle();
    if (title.size() > 30)
        title.clear();
    setWindowTitle(title + QLatin1Char(' ') + QString::number(result));
}

void Widget::on_pushButton_2_clicked()
{
    setWindowTitle(QString());
}

void Widget::on_pushButton_3_clicked()
{
}
