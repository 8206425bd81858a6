#include "strokeaccscreen.h"

#include "strokeacclogging.h"

#include <QDebug>

#include <chrono>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

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
        qCDebug(lcStrokeAcc).noquote() << "[strokeaccelerate]" << "screenCount:" << count;
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
    // The monotonic clock: wall-clock changes must not upset the de-duplication.
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
