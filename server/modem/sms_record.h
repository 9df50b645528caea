#pragma once

#include <cstddef>

// One received SMS as the modem printed it: zero-terminated single-byte
// strings, each left empty when the modem's text does not fit.
struct T_SMS
{
    static constexpr std::size_t kTextSize = 256;
    static constexpr std::size_t kSenderSize = 16;
    static constexpr std::size_t kStampSize = 32;

    char text[kTextSize] = {};     // first line of the body, with the CR before its LF
    char sender[kSenderSize] = {}; // originating address, without its quotes
    char stamp[kStampSize] = {};   // service-centre time stamp, without its quotes
};

static_assert(sizeof(T_SMS) == 304);
