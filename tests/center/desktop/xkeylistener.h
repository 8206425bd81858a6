#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// A test X client that owns the keyboard focus of its display and records
// the key events that reach it. Kept free of Qt GUI types so the Xlib macros
// stay inside its source file.
class XKeyListener
{
public:
    struct KeyEvent {
        bool press;
        unsigned int keycode;
        bool operator==(const KeyEvent &o) const { return press == o.press && keycode == o.keycode; }
    };

    XKeyListener() = default;
    ~XKeyListener();
    XKeyListener(const XKeyListener &) = delete;
    XKeyListener &operator=(const XKeyListener &) = delete;

    // Connects to the display, maps a window and gives it the input focus.
    bool open(const QByteArray &display);
    // Reads key events until none has come for quietMs milliseconds.
    QVector<KeyEvent> collect(int quietMs);
    // True when the server reports any key as held down.
    bool anyKeyDown();
    unsigned int keycodeOf(unsigned long keysym);
    // Removes every symbol from the keys that carry keysym (as if the
    // keyboard had no such key); returns false if there was none.
    bool unmapKeysym(unsigned long keysym);

private:
    void *m_display = nullptr;
    unsigned long m_window = 0;
};

QString describe(const QVector<XKeyListener::KeyEvent> &events);
