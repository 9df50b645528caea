#pragma once

#include <QString>

#include <cstdint>

enum : std::uint8_t {
    EV_NONE = 0,
    EV_GPRS_LOST = 1,
    EV_POWER_LOST = 2,
    EV_TILT_X = 3,
    EV_TILT_Y = 4,
    EV_TILT_Z = 5,
    EV_TEMPERATURE_1 = 6,
    EV_TEMPERATURE_2 = 7,
    EV_CABINET_OPEN = 8,
    EV_SAFE_OPEN = 9,
    EV_SHOCK = 10,
    EV_POINT_FOUND = 40,
    EV_LIGHT = 41,
    EV_GPRS_RESTORED = 42,
    EV_KEY_OPEN = 43,
    EV_KEY_ATTEMPT = 44,
    EV_ARMED = 45,
    EV_NEW_POINT = 46,
    EV_SERVER_STARTED = 80,
    EV_SERVER_STOPPED = 81,
};

// Positions in the image list of the server's lists.
enum : int {
    ICON_REPORT = 0,
    ICON_CROSS = 1,
    ICON_ALARM = 2,
    ICON_STATE = 3,
    ICON_SYSTEM = 4,
    ICON_QUESTION = 5,
    ICON_REFRESH = 6,
    ICON_MINUS = 7,
    ICON_SILENT = 8,
    ICON_WARNING = 9,
    ICON_COUNT = 10,
};

struct EventDescription
{
    QString text;
    int icon = ICON_REPORT;
};

// Text and icon of an event code; unknown codes have an empty text.
EventDescription EventText(std::uint8_t code);
int EventIcon(std::uint8_t code);
// Alarms: the codes shown with ICON_ALARM (3..39).
bool IsAlarm(std::uint8_t code);
// Events of a point that play a sound: the loss of mains power (a sound of
// its own) and the alarms, codes 2..39.
bool IsSounding(std::uint8_t code);

// "СИСТЕМА: ", "GPRS: ", "SMS: ", or nothing for other sources.
QString SourcePrefix(std::uint8_t source);
