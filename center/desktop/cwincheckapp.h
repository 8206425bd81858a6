#pragma once

#include <QObject>

// Acts on the desktop like a user at the keyboard: synthesises short key
// combinations through the X Test extension. Every operation opens its own
// display connection, so calls share no X state; without a display, or on a
// server without the extension, an operation does nothing.
class CWinCheckApp : public QObject
{
    Q_OBJECT
public:
    static CWinCheckApp *instance();

    // Alt_L+F4: closes the active window.
    static void closeWindow();
    // Super_L+D: shows the desktop.
    static void DealDesktop();
    // Super_L+W: opens the window overview.
    static void DealWinCtrlAndTab();
    // Prior / Next: previous / next page in the active application.
    static void pageUp();
    static void pageDown();

private:
    CWinCheckApp() = default;
};
