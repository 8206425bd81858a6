#include "resolutioncontrol.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QGuiApplication>
#include <QScreen>

namespace {
QRect desktopGeometry()
{
    // Without a GUI application there is no desktop to ask.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return QRect();
    return QApplication::desktop()->geometry();
}
} // namespace

double resolutionControl::getScale()
{
    const int w = desktopGeometry().width();
    if (w >= 3840)
        return 2.0;
    if (w >= 1025)
        return 1.0;
    return 0.8;
}

QPoint resolutionControl::getScreenCenter()
{
    const QRect g = desktopGeometry();
    return QPoint(g.width() / 2, g.height() / 2);
}

QRectF resolutionControl::getResolution()
{
    return QRectF(desktopGeometry());
}

double resolutionControl::getDPI()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return 1.0;
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return 1.0;
    return screens.first()->logicalDotsPerInch() / 96.0;
}
