#ifndef DVSCREEN_H
#define DVSCREEN_H

#include <QAtomicInt>
#include <QString>

// The panel's screen generation and the pen-width conversion that depends on it.
// One instance serves the whole control centre: the central-control module sets
// the version on the serial work thread while the fitting engines read it on the
// IPC work thread, hence the atomic.
class DvScreen
{
public:
    DvScreen();

    void setScreenVersion(int version);
    int screenVersion() const;

    // Board byte of event eventName to the value an application sees. Only
    // "SET_DISC_PEN_WIDTH" is converted; other bytes pass as signed 8-bit numbers.
    int toAppValue(const QString& eventName, char value) const;
    // Application value of event eventName to the number the board gets.
    int toDeviceValue(const QString& eventName, int value) const;

    int penSizeToApp(int boardByte) const;
    int penSizeToDevice(int appSize) const;

private:
    QAtomicInt m_version;
};

#endif // DVSCREEN_H
