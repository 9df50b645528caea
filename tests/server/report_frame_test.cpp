#include "server/model/event_codes.h"
#include "server/model/records.h"
#include "server/model/report_frame.h"

#include <QByteArray>
#include <gtest/gtest.h>

namespace {

CReportFrame FrameFromHex(const char* hex)
{
    QByteArray bytes = QByteArray::fromHex(hex);
    bytes.resize(64, '\0');
    return CReportFrame(std::span<const std::uint8_t, 64>(reinterpret_cast<const std::uint8_t*>(bytes.constData()), 64));
}

} // namespace

TEST(ReportFrame, SerialIsHighWordThenLowWord)
{
    EXPECT_EQ(FrameFromHex("010040E2").Serial(), 123456u);
    CReportFrame frame;
    frame.SetSerial(0x12345678);
    EXPECT_EQ(frame.Bytes()[0], 0x34);
    EXPECT_EQ(frame.Bytes()[1], 0x12);
    EXPECT_EQ(frame.Bytes()[2], 0x78);
    EXPECT_EQ(frame.Bytes()[3], 0x56);
    EXPECT_EQ(frame.Serial(), 0x12345678u);
}

TEST(ReportFrame, ReadingsAndTheirConversions)
{
    CReportFrame frame;
    frame.SetVersion(0x1A, 0x05);
    frame.SetWord(8, 100);
    frame.SetWord(14, 600);
    frame.SetWord(16, 0);
    frame.SetWord(18, 2048);
    frame.SetSequence(0xBEEF);
    EXPECT_EQ(frame.VersionText(), QStringLiteral("1A.05"));
    EXPECT_EQ(frame.TiltX(), 100);
    EXPECT_EQ(frame.Sequence(), 0xBEEF);
    EXPECT_DOUBLE_EQ(*CReportFrame::Temperature(frame.Temperature1Raw()), 20.0);
    EXPECT_FALSE(CReportFrame::Temperature(frame.Temperature2Raw()).has_value());
    EXPECT_DOUBLE_EQ(*CReportFrame::Temperature(1), (1 - 440) * 0.125);
    EXPECT_DOUBLE_EQ(CReportFrame::LightPercent(frame.LightRaw()), 50.0);
    EXPECT_DOUBLE_EQ(CReportFrame::LightPercent(4096), 100.0);
}

TEST(ReportFrame, KeyPresenceAndText)
{
    struct Case { const char* key; bool present; const char* text; };
    const Case cases[] = {
        {"0000000000000000", false, "000000000000"},
        {"0100000000000000", true, "010000000000"},
        {"0000000000000001", true, "000000000001"},
        {"A1B2C3D4E5F60718", true, "A1D4C3F6E518"},
    };
    for (const auto& c : cases) {
        const QByteArray key = QByteArray::fromHex(c.key);
        CReportFrame frame;
        frame.SetKey(std::span<const std::uint8_t, 8>(reinterpret_cast<const std::uint8_t*>(key.constData()), 8));
        EXPECT_EQ(frame.KeyPresent(), c.present) << c.key;
        if (c.present) {
            EXPECT_EQ(frame.KeyText(), QString::fromLatin1(c.text)) << c.key;
        }
    }
}

TEST(ReportFrame, BalanceEndsAtZeroOrAfterTenBytes)
{
    CReportFrame frame;
    frame.SetBalance(QStringLiteral("123.45"));
    EXPECT_EQ(frame.Balance(), QStringLiteral("123.45"));
    frame.SetBalance(QStringLiteral("1234567890XYZ"));
    EXPECT_EQ(frame.Balance(), QStringLiteral("1234567890"));
    EXPECT_EQ(frame.Bytes()[42], 0); // reserved bytes untouched
}

TEST(ReportFrame, CrcIsStoredHighByteFirst)
{
    CReportFrame frame;
    frame.SetSerial(123456);
    frame.SetFlags(RF_SAFE_OPEN);
    EXPECT_FALSE(frame.CrcValid());
    frame.SealCrc();
    EXPECT_TRUE(frame.CrcValid());
    EXPECT_EQ(frame.Bytes()[62], frame.ComputedCrc() >> 8);
    EXPECT_EQ(frame.Bytes()[63], frame.ComputedCrc() & 0xFF);
    CReportFrame corrupted = frame;
    corrupted.SetWord(40, 1);
    EXPECT_FALSE(corrupted.CrcValid());
}

TEST(ReportFrame, FieldsSitAtTheirOffsets)
{
    // Every field a different value: serial 0001E240, sequence 0302, version
    // 05.04, tilts 0706 0908 0B0A, temperatures 0D0C 0F0E, light 1110, key
    // 16..1D, flags 0240, balance "BAL".
    const CReportFrame frame = FrameFromHex("010040E2" "0203" "0405" "060708090A0B" "0C0D0E0F" "1011" "0000"
                                            "161718191A1B1C1D" "4002" "42414C");
    EXPECT_EQ(frame.Serial(), 123456u);
    EXPECT_EQ(frame.Sequence(), 0x0302);
    EXPECT_EQ(frame.VersionText(), QStringLiteral("05.04"));
    EXPECT_EQ(frame.TiltX(), 0x0706);
    EXPECT_EQ(frame.TiltY(), 0x0908);
    EXPECT_EQ(frame.TiltZ(), 0x0B0A);
    EXPECT_EQ(frame.Temperature1Raw(), 0x0D0C);
    EXPECT_EQ(frame.Temperature2Raw(), 0x0F0E);
    EXPECT_EQ(frame.LightRaw(), 0x1110);
    EXPECT_EQ(frame.KeyText(), QStringLiteral("1619181B1A1D"));
    EXPECT_EQ(frame.Flags(), RF_SAFE_OPEN | RF_LIGHT);
    EXPECT_EQ(frame.Balance(), QStringLiteral("BAL"));
    EXPECT_EQ(CReportFrame::WordOf(frame.Bytes().data(), CReportFrame::kFlagsOffset), frame.Flags());
}

TEST(ReportFrame, ValidChecksTheCrcOfRawBytes)
{
    CReportFrame frame;
    frame.SetSerial(0x12345678);
    frame.SealCrc();
    auto bytes = frame.Bytes();
    EXPECT_TRUE(CReportFrame::Valid(bytes.data()));
    for (std::size_t at : {std::size_t{0}, std::size_t{61}, CReportFrame::kCrcOffset, CReportFrame::kSize - 1}) {
        auto bad = bytes;
        bad[at] ^= 0x01;
        EXPECT_FALSE(CReportFrame::Valid(bad.data())) << at;
    }
}

TEST(EventCodes, TextsAndIconRule)
{
    struct Case { std::uint8_t code; const char16_t* text; int icon; };
    const Case cases[] = {
        {EV_NONE, u"", ICON_REPORT},
        {EV_GPRS_LOST, u"Потеряна GPRS связь с точкой", ICON_WARNING},
        {EV_POWER_LOST, u"Пропало напряжение питания", ICON_WARNING},
        {EV_TILT_X, u"Сработал датчик наклона оси X", ICON_ALARM},
        {EV_TEMPERATURE_2, u"Сработал датчик температуры 2", ICON_ALARM},
        {EV_SHOCK, u"Сработал датчик удара", ICON_ALARM},
        {11, u"", ICON_ALARM},
        {39, u"", ICON_ALARM},
        {EV_POINT_FOUND, u"Точка обнаружена", ICON_STATE},
        {EV_LIGHT, u"Сработал датчик освещенности", ICON_WARNING},
        {EV_GPRS_RESTORED, u"GPRS c\u0432язь с точкой восстановлена", ICON_STATE},
        {EV_KEY_ATTEMPT, u"Пытались открыть ключом", ICON_STATE},
        {EV_NEW_POINT, u"Обнаружена не зарегистрированная точка", ICON_STATE},
        {79, u"", ICON_STATE},
        {EV_SERVER_STARTED, u"Сервер запущен", ICON_SYSTEM},
        {EV_SERVER_STOPPED, u"Сервер остановлен", ICON_SYSTEM},
        {90, u"", ICON_SYSTEM},
        {255, u"", ICON_SYSTEM},
    };
    for (const auto& c : cases) {
        const auto d = EventText(c.code);
        EXPECT_EQ(d.text, QString::fromUtf16(c.text)) << int(c.code);
        EXPECT_EQ(d.icon, c.icon) << int(c.code);
        EXPECT_EQ(IsAlarm(c.code), c.icon == ICON_ALARM) << int(c.code);
    }
    // Power loss and the alarms sound.
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(IsSounding(static_cast<std::uint8_t>(code)), code >= 2 && code <= 39) << code;
    // The "c" of "cвязь" is the Latin letter.
    EXPECT_EQ(EventText(EV_GPRS_RESTORED).text.at(5), QChar(u'c'));
}

TEST(EventCodes, SourcePrefixes)
{
    EXPECT_EQ(SourcePrefix(SRC_SYSTEM), QStringLiteral("СИСТЕМА: "));
    EXPECT_EQ(SourcePrefix(SRC_GPRS), QStringLiteral("GPRS: "));
    EXPECT_EQ(SourcePrefix(SRC_SMS), QStringLiteral("SMS: "));
    EXPECT_EQ(SourcePrefix(3), QString());
}

TEST(Records, EventLayoutIsTheFileRecord)
{
    T_EVENT event;
    event.code = EV_SAFE_OPEN;
    event.source = SRC_GPRS;
    event.time = 0x0102030405060708;
    event.serial = 0xA1B2C3D4;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&event);
    const QByteArray raw(reinterpret_cast<const char*>(bytes), 24);
    EXPECT_EQ(raw.toHex(), QByteArrayLiteral("0901" "0000" "0807060504030201" "d4c3b2a1" "0000000000000000"));
}
