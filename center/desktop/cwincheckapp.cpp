#include "cwincheckapp.h"

#include "desktoplogging.h"

#include <QVector>
#include <QtGlobal>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// Presses the keys in order and releases them in reverse order, so modifiers
// go down first and come up last.
void sendChord(const QVector<KeySym> &keys)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return;

    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        XCloseDisplay(display);
        return;
    }

    // A keysym the keymap lacks would make the server answer with an error
    // (fatal under the default Xlib handler) and leave half a chord pressed:
    // send nothing rather than part of it.
    QVector<KeyCode> codes;
    for (KeySym sym : keys) {
        const KeyCode code = XKeysymToKeycode(display, sym);
        if (code == 0) {
            qCWarning(lcDesktop, "CWinCheckApp: no keycode for keysym 0x%lx, nothing sent", static_cast<unsigned long>(sym));
            XCloseDisplay(display);
            return;
        }
        codes.append(code);
    }

    for (KeyCode code : codes)
        XTestFakeKeyEvent(display, code, True, 0);
    for (int i = codes.size() - 1; i >= 0; --i)
        XTestFakeKeyEvent(display, codes.at(i), False, 0);

    // Closing flushes the queued requests to the server.
    XCloseDisplay(display);
}

} // namespace

CWinCheckApp *CWinCheckApp::instance()
{
    static CWinCheckApp *self = new CWinCheckApp;
    return self;
}

void CWinCheckApp::closeWindow()
{
    sendChord({XK_Alt_L, XK_F4});
}

void CWinCheckApp::DealDesktop()
{
    sendChord({XK_Super_L, XK_D});
}

void CWinCheckApp::DealWinCtrlAndTab()
{
    sendChord({XK_Super_L, XK_W});
}

void CWinCheckApp::pageUp()
{
    sendChord({XK_Prior});
}

void CWinCheckApp::pageDown()
{
    sendChord({XK_Next});
}
