#include "toolbox.h"

#include "custombutton.h"
#include "resolutioncontrol.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

toolBox *toolBox::s_instance = nullptr;

Qt::WindowFlags toolBox::panelFlags()
{
    return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
}

toolBox::toolBox(QWidget *parent)
    : QWidget(parent, panelFlags())
{
    m_scale = resolutionControl::getScale();
    const double s = m_scale;
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(int(134 * s), int(152 * s));

    m_background = new QLabel(this);
    m_background->setObjectName(QStringLiteral("toolbox"));
    m_background->setFixedSize(int(134 * s), int(152 * s));
    m_background->setStyleSheet(QStringLiteral("QWidget#toolbox{background-color:rgba(26,26,26,102);"
                                               "border-image:url(:/Icon/id_Backg.png);"
                                               "border:%1px solid rgba(255,255,255,63);border-radius:%2px;}")
                                    .arg(2 * s)
                                    .arg(4 * s));

    m_mainLayout = new QVBoxLayout(this);
    m_mainLayout->setSpacing(0);
    m_mainLayout->setContentsMargins(0, 0, 0, 0);
    m_mainLayout->addWidget(m_background);

    m_grid = new QGridLayout(m_background);
    m_grid->setSpacing(0);
    m_grid->setContentsMargins(int(18 * s), int(13 * s), int(18 * s), int(13 * s));
    m_grid->setHorizontalSpacing(int(26 * s));
    m_grid->setVerticalSpacing(int(18 * s));

    struct Tool {
        int row, column;
        QString caption, icon;
        void (toolBox::*signal)(bool);
    };
    const Tool tools[] = {
        {0, 0, QStringLiteral("截屏"), QStringLiteral(":/Icon/id_cap.png"), &toolBox::sigCap},
        {0, 1, QStringLiteral("聚光灯"), QStringLiteral(":/Icon/id_Spotlight.png"), &toolBox::sigLite},
        {1, 0, QStringLiteral("时钟"), QStringLiteral(":/Icon/id_clock.png"), &toolBox::sigClock},
        {1, 1, QStringLiteral("放大镜"), QStringLiteral(":/Icon/id_Zoom.png"), &toolBox::sigZoom},
    };
    for (const Tool &t : tools) {
        auto *button = new customButton(t.caption, t.icon, m_background);
        connect(button, &QPushButton::clicked, this, t.signal);
        m_grid->addWidget(button, t.row, t.column);
    }

    s_instance = this;
}

toolBox::~toolBox()
{
    if (s_instance == this)
        s_instance = nullptr;
}

toolBox *toolBox::getInstance()
{
    return s_instance;
}

void toolBox::showDialog(double x, double y, int)
{
    setWindowFlags(panelFlags());
    move(int(x), int(y));
    show();
    activateWindow();
}

void toolBox::slotClose(bool)
{
    hide();
}

void toolBox::slotLite(bool)
{
}

bool toolBox::event(QEvent *e)
{
    if (e->type() == QEvent::ActivationChange && QApplication::activeWindow() != this)
        hide();
    return QWidget::event(e);
}
