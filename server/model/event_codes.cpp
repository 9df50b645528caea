#include "server/model/event_codes.h"

#include "server/model/records.h"

#include <array>

namespace {

std::array<QString, 256> MakeTexts()
{
    std::array<QString, 256> texts;
    texts[EV_GPRS_LOST] = QStringLiteral("Потеряна GPRS связь с точкой");
    texts[EV_POWER_LOST] = QStringLiteral("Пропало напряжение питания");
    texts[EV_TILT_X] = QStringLiteral("Сработал датчик наклона оси X");
    texts[EV_TILT_Y] = QStringLiteral("Сработал датчик наклона оси Y");
    texts[EV_TILT_Z] = QStringLiteral("Сработал датчик наклона оси Z");
    texts[EV_TEMPERATURE_1] = QStringLiteral("Сработал датчик температуры 1");
    texts[EV_TEMPERATURE_2] = QStringLiteral("Сработал датчик температуры 2");
    texts[EV_CABINET_OPEN] = QStringLiteral("Сработал датчик открытия кабинета");
    texts[EV_SAFE_OPEN] = QStringLiteral("Сработал датчик открытия сейфа");
    texts[EV_SHOCK] = QStringLiteral("Сработал датчик удара");
    texts[EV_POINT_FOUND] = QStringLiteral("Точка обнаружена");
    texts[EV_LIGHT] = QStringLiteral("Сработал датчик освещенности");
    // The "c" of "cвязь" is a Latin c, as controllers' operators have always seen it.
    texts[EV_GPRS_RESTORED] = QStringLiteral("GPRS cвязь с точкой восстановлена");
    texts[EV_KEY_OPEN] = QStringLiteral("Открыт ключом");
    texts[EV_KEY_ATTEMPT] = QStringLiteral("Пытались открыть ключом");
    texts[EV_ARMED] = QStringLiteral("Точка на охране");
    texts[EV_NEW_POINT] = QStringLiteral("Обнаружена не зарегистрированная точка");
    texts[EV_SERVER_STARTED] = QStringLiteral("Сервер запущен");
    texts[EV_SERVER_STOPPED] = QStringLiteral("Сервер остановлен");
    return texts;
}

const std::array<QString, 256>& Texts()
{
    static const auto texts = MakeTexts();
    return texts;
}

} // namespace

int EventIcon(std::uint8_t code)
{
    if (code == EV_GPRS_LOST || code == EV_POWER_LOST || code == EV_LIGHT)
        return ICON_WARNING;
    if (code == 0)
        return ICON_REPORT;
    if (code < 40)
        return ICON_ALARM;
    if (code < 80)
        return ICON_STATE;
    return ICON_SYSTEM;
}

bool IsAlarm(std::uint8_t code) { return EventIcon(code) == ICON_ALARM; }

bool IsSounding(std::uint8_t code) { return code == EV_POWER_LOST || IsAlarm(code); }

EventDescription EventText(std::uint8_t code) { return {Texts()[code], EventIcon(code)}; }

QString SourcePrefix(std::uint8_t source)
{
    switch (source) {
    case SRC_SYSTEM: return QStringLiteral("СИСТЕМА: ");
    case SRC_GPRS: return QStringLiteral("GPRS: ");
    case SRC_SMS: return QStringLiteral("SMS: ");
    default: return {};
    }
}
