#include "custombutton.h"

#include "resolutioncontrol.h"

#include <QLabel>
#include <QVBoxLayout>

// The icons are compiled into this static library; a program linking it only
// keeps them if something refers to their registration.
static void registerDesktopIcons()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(desktopicons);
        return true;
    }();
    Q_UNUSED(registered);
}

customButton::customButton(QString text, QString iconPath, QWidget *parent)
    : QPushButton(parent), m_text(text), m_iconPath(iconPath)
{
    registerDesktopIcons();
    const double s = resolutionControl::getScale();
    setObjectName(text + QStringLiteral("cbtn"));
    setFixedSize(int(32 * s), int(54 * s));
    setAttribute(Qt::WA_AcceptTouchEvents);
    setStyleSheet(QStringLiteral("QPushButton#") + text + QStringLiteral("cbtn{background-color:transparent;border:0px;}"));

    m_layout = new QVBoxLayout(this);
    m_layout->setSpacing(0);
    m_layout->setContentsMargins(0, 0, 0, 0);

    m_icon = new QLabel(this);
    m_icon->setObjectName(text + QStringLiteral("icon"));
    m_icon->setFixedSize(int(32 * s), int(32 * s));
    m_icon->setStyleSheet(QStringLiteral("QLabel#") + text + QStringLiteral("icon{background:transparent;border-image:url(")
                          + iconPath + QStringLiteral(");}"));

    m_caption = new QLabel(this);
    m_caption->setObjectName(text + QStringLiteral("txt"));
    m_caption->setFixedSize(int(32 * s), int(22 * s));
    m_caption->setAlignment(Qt::AlignCenter);
    m_caption->setText(text);
    m_caption->setStyleSheet((QStringLiteral("QLabel#") + text
                              + QStringLiteral("txt{background:transparent;font-size:%1px;color:#ffffff;"
                                               "font-family:PingFangSC-Regular;}"))
                                 .arg(10 * s));

    m_layout->addWidget(m_icon);
    m_layout->addWidget(m_caption);
}
