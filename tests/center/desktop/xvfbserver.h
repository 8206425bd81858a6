#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A private X server for one test: its own screen size, its own keyboard and
// focus, so tests running side by side cannot disturb each other's input.
class XvfbServer
{
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    // Starts Xvfb with one screen of the given size; extraArgs go to Xvfb.
    bool start(int width, int height, const QStringList &extraArgs = {});
    // Starts openbox on the server and waits until it manages the screen.
    bool startWindowManager();
    void stop();

    // ":N", valid once start() succeeded.
    QString display() const { return m_display; }
    QString errorText() const { return m_error; }

private:
    QProcess m_server;
    QProcess m_windowManager;
    QString m_display;
    QString m_error;
};
