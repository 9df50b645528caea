// Any bytes as a modem's answer to the listing command: every record the
// parse delivers is zero-terminated within its fields, there is one index a
// record, and each record's text decodes to a report frame or is refused.
#include "server/link/sms_decoder.h"
#include "server/modem/gsm_modem.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

bool Terminated(const char* field, std::size_t size) { return std::memchr(field, 0, size) != nullptr; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > CGsmModem::kLongAnswer)
        return 0; // the modem's answers are read into a buffer of this size
    const std::string_view listing(reinterpret_cast<const char*>(data), size);
    std::vector<T_SMS> records;
    std::vector<unsigned> indices;
    CGsmModem::ParseListing(listing, records, indices);
    if (records.size() != indices.size())
        std::abort();
    for (const T_SMS& sms : records) {
        if (!Terminated(sms.text, sizeof sms.text) || !Terminated(sms.sender, sizeof sms.sender)
            || !Terminated(sms.stamp, sizeof sms.stamp))
            std::abort();
        std::array<std::uint8_t, 64> frame{};
        DecodeSmsReport(sms, frame);
    }
    return 0;
}
