// Any bytes as one SMS slot of the controller: the text decoded from it fits
// the slot's 56 characters.
#include "tool/device/sms_pdu.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    T_SMSSLOT slot{};
    std::copy_n(data, std::min(size, slot.size()), slot.begin());
    const QString text = DecodeSmsPdu(slot);
    if (text.size() > kSmsMaxLength)
        std::abort();
    return 0;
}
