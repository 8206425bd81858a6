#include "dvscreen.h"

namespace {
const char kPenWidthEvent[] = "SET_DISC_PEN_WIDTH";
}

DvScreen::DvScreen()
    : m_version(0)
{
}

void DvScreen::setScreenVersion(int version)
{
    m_version.storeRelaxed(version);
}

int DvScreen::screenVersion() const
{
    return m_version.loadRelaxed();
}

int DvScreen::toAppValue(const QString& eventName, char value) const
{
    if (eventName == QLatin1String(kPenWidthEvent))
        return penSizeToApp(static_cast<unsigned char>(value));
    return static_cast<signed char>(value);
}

int DvScreen::toDeviceValue(const QString& eventName, int value) const
{
    if (eventName == QLatin1String(kPenWidthEvent))
        return penSizeToDevice(value);
    return value;
}

int DvScreen::penSizeToApp(int boardByte) const
{
    // The 2018 boards count pen widths in other steps than the later ones.
    if (screenVersion() == 2018) {
        switch (boardByte) {
        case 6: return 3;
        case 12: return 5;
        case 20: return 10;
        default: return 3;
        }
    }
    switch (boardByte) {
    case 3: return 3;
    case 6: return 5;
    case 12: return 10;
    default: return 3;
    }
}

int DvScreen::penSizeToDevice(int appSize) const
{
    const bool v2018 = screenVersion() == 2018;
    if (appSize >= 10)
        return v2018 ? 20 : 12;
    if (appSize >= 5)
        return v2018 ? 12 : 6;
    return v2018 ? 6 : 3;
}
