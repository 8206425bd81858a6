#ifndef STROKEACCSCREEN_H
#define STROKEACCSCREEN_H

#include <QtGlobal>

// What the agent asks the X server and the clock. Each call opens its own
// display connection, so the answers follow monitor and size changes.

// Active monitors of the default root window (XRandR); 0 without a display.
int GetScreenCount();

// Size of screen 0 of the default display; does nothing if either pointer is
// null or there is no display.
void getScreenResolution(int *w, int *h);

// Milliseconds of the monotonic clock.
qint64 getTickCount();

#endif // STROKEACCSCREEN_H
