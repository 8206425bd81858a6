#include "messagedialog.h"

#include "resolutioncontrol.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

MessageDialog *MessageDialog::s_instance = nullptr;

MessageDialog::MessageDialog(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    // A toast must not take the focus from the window the user works in (nor
    // close the toolbox, which hides when it loses activation).
    setAttribute(Qt::WA_ShowWithoutActivating);
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("myMid"));
    QFont font = m_label->font();
    font.setFamily(QStringLiteral("Microsoft YaHei"));
    m_label->setFont(font);
    m_layout->addWidget(m_label);
    s_instance = this;
}

MessageDialog::~MessageDialog()
{
    if (s_instance == this)
        s_instance = nullptr;
}

MessageDialog *MessageDialog::getMessage()
{
    return s_instance;
}

void MessageDialog::fitResolution()
{
    const double s = resolutionControl::getScale();
    setFixedHeight(int(28 * s));
    m_label->setStyleSheet(
        QStringLiteral("QLabel#myMid{text-align:center;padding-right:%1px;padding-left:%1px;"
                       "background-color:rgba(0,0,0,204);color:rgba(255,255,255,204);"
                       "border:1px solit #d9d9d9;border-radius:%2px;font-size:%3px;}")
            .arg(25 * s)
            .arg(14 * s)
            .arg(15 * s));
}

void MessageDialog::fitText(const QString &text)
{
    m_label->setText(text);
    fitResolution();
    // Shrink to the new text; a longer earlier text must not widen this one.
    adjustSize();
}

void MessageDialog::showDialog(QString text, double x, double y)
{
    fitText(text);
    showAt(x, y);
}

void MessageDialog::showAt(double x, double y)
{
    move(int(x), int(y));
    // Painted as soon as the caller returns to the event loop; spinning the
    // loop here would run other queued work inside the caller.
    show();
    // Each call hides one second after itself; a later call does not extend
    // an earlier one, so a burst of toasts ends one second after its first.
    QTimer::singleShot(1000, this, &MessageDialog::hideDialog);
}

void MessageDialog::hideDialog()
{
    if (!isHidden())
        hide();
}
