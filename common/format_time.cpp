#include "common/format_time.h"

#include <clocale>
#include <locale.h>
#include <stdexcept>

namespace {

constexpr std::size_t kFormatBuffer = 128;

locale_t CLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

} // namespace

std::optional<std::tm> LocalTime(std::int64_t time)
{
    const std::time_t t = static_cast<std::time_t>(time);
    if (static_cast<std::int64_t>(t) != time)
        return std::nullopt;
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr)
        return std::nullopt;
    return tm;
}

QString FormatTime(std::int64_t time, const char* pattern)
{
    const auto tm = LocalTime(time);
    if (!tm)
        throw std::invalid_argument("local time cannot be computed");
    char buffer[kFormatBuffer];
    const std::size_t length = strftime_l(buffer, sizeof buffer, pattern, &*tm, CLocale());
    return QString::fromLatin1(buffer, static_cast<qsizetype>(length));
}

QString FormatTimeOrEmpty(std::int64_t time, const char* pattern)
{
    try {
        return FormatTime(time, pattern);
    } catch (const std::invalid_argument&) {
        return {};
    }
}
