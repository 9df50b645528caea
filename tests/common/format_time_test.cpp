#include "common/format_time.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

// 5 March 2012 12:34:56 in Moscow (UTC+4 then).
constexpr std::int64_t kMarch5 = 1330936496;

} // namespace

TEST(FormatTime, PatternsOfTheServerInTheCLocale)
{
    // The application sets the user's locale; month names must stay English.
    std::setlocale(LC_ALL, "");
    struct Case { const char* pattern; const char* expected; };
    const Case cases[] = {
        {"%d-%b-%Y", "05-Mar-2012"}, {"%H:%M", "12:34"}, {"%d.%m %H:%M", "05.03 12:34"},
        {"%d%b%Y", "05Mar2012"}, {"%d-%b-%Y %H:%M", "05-Mar-2012 12:34"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatTime(kMarch5, c.pattern), QString::fromLatin1(c.expected)) << c.pattern;
}

TEST(FormatTime, ResultMustFitTheBuffer)
{
    EXPECT_EQ(FormatTime(kMarch5, ""), QString());
    const std::string fits(127, 'x');
    const std::string tooLong(128, 'x');
    EXPECT_EQ(FormatTime(kMarch5, fits.c_str()).size(), 127);
    EXPECT_EQ(FormatTime(kMarch5, tooLong.c_str()), QString());
}

TEST(FormatTime, UncomputableLocalTimeIsAnInvalidArgument)
{
    EXPECT_THROW(FormatTime(std::numeric_limits<std::int64_t>::max(), "%H"), std::invalid_argument);
    EXPECT_FALSE(LocalTime(std::numeric_limits<std::int64_t>::max()).has_value());
}

TEST(FormatTime, DisplayFormOfAnUncomputableTimeIsEmpty)
{
    EXPECT_EQ(FormatTimeOrEmpty(std::numeric_limits<std::int64_t>::max(), "%H"), QString());
    EXPECT_EQ(FormatTimeOrEmpty(kMarch5, "%H:%M"), QStringLiteral("12:34"));
}
