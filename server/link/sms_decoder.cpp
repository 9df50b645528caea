#include "server/link/sms_decoder.h"

#include "common/crc16.h"
#include "server/link/event_pipeline.h"
#include "server/model/records.h"
#include "server/model/report_frame.h"

namespace {

// The value of a capital hexadecimal digit, or -1 for any other character.
int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool DecodeSmsReport(const T_SMS& sms, std::array<std::uint8_t, 64>& frame)
{
    static_assert(2 * CReportFrame::kSize < T_SMS::kTextSize);
    for (std::size_t i = 0; i < CReportFrame::kSize; ++i) {
        // The zero byte that ends the text is not a digit either, so the
        // decoding never reads past it.
        const int high = DigitValue(sms.text[2 * i]);
        const int low = high < 0 ? -1 : DigitValue(sms.text[2 * i + 1]);
        if (low < 0)
            return false;
        frame[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    const std::uint16_t computed = Crc16Modbus(std::span<const std::uint8_t>(frame.data(), CReportFrame::kCrcOffset));
    return computed == LoadCrcHighFirst(frame.data() + CReportFrame::kCrcOffset);
}

void ProcessSms(std::vector<T_SMS>& messages, CEventPipeline& pipeline)
{
    std::array<std::uint8_t, 64> frame{};
    for (const T_SMS& sms : messages) {
        if (DecodeSmsReport(sms, frame))
            pipeline.AcceptReport(frame, SRC_SMS);
    }
    std::vector<T_SMS>().swap(messages);
}
