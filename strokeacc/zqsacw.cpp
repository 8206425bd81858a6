#include "zqsacw.h"

#include <QPainter>

ZQSACW::ZQSACW(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint
                          | Qt::WindowStaysOnTopHint)
{
    // A square going away must never end the agent.
    setAttribute(Qt::WA_QuitOnClose, false);
}

void ZQSACW::showCW(QColor colour, int x, int y, int w, int h)
{
    m_colour = colour;
    setGeometry(x, y, w, h);
    show();
    raise();
    update();
}

void ZQSACW::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_colour);
}
