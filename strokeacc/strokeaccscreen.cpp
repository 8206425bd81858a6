#include "strokeaccscreen.h"

#include <QDebug>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <time.h>

int GetScreenCount()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return 0;
    int count = 0;
    XRRMonitorInfo *monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    if (monitors)
        XRRFreeMonitors(monitors);
    XCloseDisplay(display);
    if (count != 1)
        qDebug().noquote() << "[strokeaccelerate]" << "screenCount:" << count;
    return count;
}

void getScreenResolution(int *w, int *h)
{
    if (!w || !h)
        return;
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return;
    *w = XDisplayWidth(display, 0);
    *h = XDisplayHeight(display, 0);
    XCloseDisplay(display);
}

qint64 getTickCount()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
