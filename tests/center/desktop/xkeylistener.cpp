#include "xkeylistener.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#define DPY static_cast<Display *>(m_display)

XKeyListener::~XKeyListener()
{
    if (m_display)
        XCloseDisplay(DPY);
}

bool XKeyListener::open(const QByteArray &display)
{
    m_display = XOpenDisplay(display.constData());
    if (!m_display)
        return false;
    const int screen = DefaultScreen(DPY);
    m_window = XCreateSimpleWindow(DPY, RootWindow(DPY, screen), 0, 0, 200, 200, 0,
                                   BlackPixel(DPY, screen), WhitePixel(DPY, screen));
    XSelectInput(DPY, m_window, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
    XMapRaised(DPY, m_window);
    XEvent ev;
    do {
        XNextEvent(DPY, &ev);
    } while (ev.type != MapNotify);
    XSetInputFocus(DPY, m_window, RevertToParent, CurrentTime);
    XSync(DPY, False);
    // Drop anything that arrived before the test starts.
    while (XPending(DPY))
        XNextEvent(DPY, &ev);
    return true;
}

QVector<XKeyListener::KeyEvent> XKeyListener::collect(int quietMs)
{
    QVector<KeyEvent> events;
    for (;;) {
        while (XPending(DPY)) {
            XEvent ev;
            XNextEvent(DPY, &ev);
            if (ev.type == KeyPress || ev.type == KeyRelease)
                events.append({ev.type == KeyPress, ev.xkey.keycode});
        }
        pollfd pfd{ConnectionNumber(DPY), POLLIN, 0};
        if (poll(&pfd, 1, quietMs) <= 0)
            break;
    }
    return events;
}

bool XKeyListener::anyKeyDown()
{
    char keys[32];
    XQueryKeymap(DPY, keys);
    for (char k : keys)
        if (k)
            return true;
    return false;
}

unsigned int XKeyListener::keycodeOf(unsigned long keysym)
{
    return XKeysymToKeycode(DPY, keysym);
}

bool XKeyListener::unmapKeysym(unsigned long keysym)
{
    // A keysym may sit on several keys (Super_L often does): clear them all.
    bool found = false;
    KeyCode code;
    for (int guard = 0; guard < 256 && (code = XKeysymToKeycode(DPY, keysym)) != 0; ++guard) {
        found = true;
        int perCode = 0;
        KeySym *syms = XGetKeyboardMapping(DPY, code, 1, &perCode);
        for (int i = 0; i < perCode; ++i)
            syms[i] = NoSymbol;
        XChangeKeyboardMapping(DPY, code, perCode, syms, 1);
        XFree(syms);
        XSync(DPY, False);
    }
    return found;
}

QString describe(const QVector<XKeyListener::KeyEvent> &events)
{
    QStringList parts;
    for (const auto &e : events)
        parts << QStringLiteral("%1%2").arg(e.press ? QLatin1Char('+') : QLatin1Char('-')).arg(e.keycode);
    return parts.join(QLatin1Char(' '));
}
