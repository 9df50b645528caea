// The command line of the emulator programs: numbers, keys, help and stray arguments.
#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

namespace {

TEST(SimOptions, NumbersAreDecimalOrHexadecimalNeverOctal)
{
    constexpr std::int64_t kLow = -300;
    constexpr std::int64_t kHigh = 0xFFFFFFFF;
    const struct
    {
        const char* text;
        std::optional<std::int64_t> value;
    } cases[] = {
        {"10", 10},
        {"010", 10},            // a leading zero is no octal
        {"08", 8},
        {"0x10", 16},
        {"0X1f", 31},
        {" 7 ", 7},
        {"-1", -1},
        {"-0x12C", -300},
        {"0xFFFFFFFF", 0xFFFFFFFF},
        {"0", 0},
        {"-301", std::nullopt},  // below the range
        {"0x100000000", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"0x", std::nullopt},
        {"-", std::nullopt},
        {"--5", std::nullopt},
        {"+5", std::nullopt},
        {"1e3", std::nullopt},
        {"12a", std::nullopt},
        {"0x1g", std::nullopt},
        {"1 2", std::nullopt},
        {"0b101", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::int64_t value = 12345;
        EXPECT_EQ(CSimOptions::ParseNumber(QString::fromLatin1(c.text), kLow, kHigh, &value), c.value.has_value());
        EXPECT_EQ(value, c.value.value_or(12345));
    }
    std::int64_t value = 0;
    EXPECT_FALSE(CSimOptions::ParseNumber(QStringLiteral("٣"), 0, 10, &value));  // a digit, but not an ASCII one
}

TEST(SimOptions, AKeyIsSixteenHexadecimalDigits)
{
    std::array<std::uint8_t, 8> key{};
    ASSERT_TRUE(CSimOptions::ParseKey(QStringLiteral("0102030405060aFF"), &key));
    EXPECT_EQ(key, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 0x0A, 0xFF}));
    for (const char* bad : {"", "0102030405060a", "0102030405060aFF00", "0102030405060aGG", "01 2030405060aFF"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(CSimOptions::ParseKey(QString::fromLatin1(bad), &key));
    }
    EXPECT_FALSE(CSimOptions::ParseKey(QStringLiteral("0102030405060aFЖ"), &key));
    EXPECT_EQ(key[7], 0xFF);   // a refused key leaves the old one
}

TEST(SimOptions, ParseTellsRunHelpAndError)
{
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Frames."), QStringLiteral("n"),
                                   QStringLiteral("1"));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("Say nothing."));
    const QString program = QStringLiteral("ostrel-test");
    const struct
    {
        QStringList arguments;
        CSimOptions::Status status;
    } cases[] = {
        {{}, CSimOptions::Status::Run},
        {{QStringLiteral("--count"), QStringLiteral("0x20"), QStringLiteral("--quiet")}, CSimOptions::Status::Run},
        {{QStringLiteral("--help")}, CSimOptions::Status::Help},
        {{QStringLiteral("-h")}, CSimOptions::Status::Help},
        {{QStringLiteral("--no-such-option")}, CSimOptions::Status::Error},
        {{QStringLiteral("--count")}, CSimOptions::Status::Error},
        {{QStringLiteral("stray")}, CSimOptions::Status::Error},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        CSimOptions options(QStringLiteral("A test program."));
        options.Add({count, quiet});
        ASSERT_EQ(options.Parse(QStringList{program} + c.arguments), c.status);
        switch (c.status) {
        case CSimOptions::Status::Run: {
            std::int64_t n = 0;
            EXPECT_TRUE(options.Number(count, 0, 100, &n));
            EXPECT_EQ(n, c.arguments.isEmpty() ? 1 : 32);
            EXPECT_EQ(options.IsSet(quiet), !c.arguments.isEmpty());
            EXPECT_TRUE(options.Message().isEmpty());
            break;
        }
        case CSimOptions::Status::Help:
            EXPECT_TRUE(options.Message().contains(QStringLiteral("A test program.")));
            EXPECT_TRUE(options.Message().contains(QStringLiteral("--count <n>")));
            break;
        case CSimOptions::Status::Error:
            EXPECT_FALSE(options.Message().isEmpty());
            break;
        }
    }
}

} // namespace
