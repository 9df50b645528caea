// ProcessSms: message texts in, reports from SRC_SMS into a real pipeline.
#include "server/link/sms_decoder.h"
#include "server/model/event_codes.h"
#include "server/model/report_frame.h"
#include "tests/server/modem_fixture.h"
#include "tests/server/server_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

T_SMS Sms(const std::string& text, const std::string& sender = "+79000000000")
{
    T_SMS sms;
    std::memcpy(sms.text, text.data(), std::min(text.size(), sizeof sms.text - 1));
    std::memcpy(sms.sender, sender.data(), std::min(sender.size(), sizeof sms.sender - 1));
    return sms;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

class SmsDecoding : public PipelineTest
{
protected:
    void Process(std::vector<T_SMS> messages)
    {
        ProcessSms(messages, pipeline);
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(messages.capacity(), 0u); // storage released
    }
};

} // namespace

TEST_F(SmsDecoding, TheFirst128CapitalDigitsAreTheReport)
{
    const auto frame = MakeFrame(123456, RF_SHOCK);
    const std::string text = SmsText(frame);
    ASSERT_EQ(text.size(), 128u);
    for (const std::string& sent : {text + "\r", text, text + "00", text + "\r\nmore"}) {
        const std::size_t before = base.todayEvents().size();
        Process({Sms(sent)});
        ASSERT_EQ(base.todayEvents().size(), before + (before == 0 ? 2 : 1)) << sent;
        EXPECT_EQ(base.todayEvents().back().code, EV_SHOCK);
        EXPECT_EQ(base.todayEvents().back().source, SRC_SMS);
        ASSERT_EQ(base.count(), 1);
        EXPECT_EQ(base.lastReports()[0].source, SRC_SMS);
        EXPECT_EQ(base.lastReports()[0].report, frame);
    }
    EXPECT_EQ(TodayCodes().front(), EV_NEW_POINT);
    Flush();
    EXPECT_TRUE(Rows(events).front().contains(QStringLiteral("SMS: "))) << Rows(events).front().toStdString();
}

TEST_F(SmsDecoding, TextsThatAreNoWholeValidFrameLeaveNoTrace)
{
    const std::string text = SmsText(MakeFrame(77, RF_SAFE_OPEN));
    std::string badCrc = text;
    badCrc[127] = badCrc[127] == '0' ? '1' : '0';
    std::string spaced = text;
    spaced.insert(64, " ");
    std::string foreign = text;
    foreign[10] = 'G';
    const std::vector<T_SMS> skipped{
        Sms(Lower(text) + "\r"), Sms(text.substr(0, 127)), Sms(text.substr(0, 127) + "\r"), Sms(badCrc + "\r"),
        Sms(spaced), Sms(foreign), Sms(""), Sms("Баланс 10 руб.\r"), Sms(std::string(255, 'F')),
    };
    Process(skipped);
    EXPECT_TRUE(base.todayEvents().empty());
    EXPECT_EQ(base.count(), 0);
    EXPECT_TRUE(sound.played.isEmpty());
    EXPECT_TRUE(alert.shown.empty());
    Flush();
    EXPECT_EQ(events.rowCount(), 0);
    EXPECT_EQ(points.rowCount(), 0);
}

TEST_F(SmsDecoding, TwoReportsOfOneSerialGiveTwoEventsInTheirOrder)
{
    base.AddPoint(5);
    const auto armed = SmsText(MakeFrame(5)) + "\r";
    const auto shock = SmsText(MakeFrame(5, RF_SHOCK)) + "\r";
    Process({Sms(armed), Sms(armed), Sms(shock), Sms("junk"), Sms(shock)});
    EXPECT_EQ(TodayCodes(), (std::vector<std::uint8_t>{EV_ARMED, EV_ARMED, EV_SHOCK, EV_SHOCK}));
}

TEST_F(SmsDecoding, TheSendersNumberPlaysNoPart)
{
    base.AddPoint(9);
    base.SetPhone(0, QStringLiteral("9161234567"));
    const auto text = SmsText(MakeFrame(9)) + "\r";
    Process({Sms(text, "+70000000000"), Sms(text, ""), Sms(text, "MegaFon")});
    EXPECT_EQ(TodayCodes(), (std::vector<std::uint8_t>{EV_ARMED, EV_ARMED, EV_ARMED}));
    EXPECT_EQ(base.count(), 1);
}
