#pragma once

#include <QString>

#include <cstdint>
#include <ctime>
#include <optional>

// Local broken-down time of a moment, or nothing when it cannot be computed.
std::optional<std::tm> LocalTime(std::int64_t time);

// Formats a moment in local time with a strftime pattern in the "C" locale
// (so "%b" is "Jan" .. "Dec"). The result must fit 128 characters with its
// terminator, otherwise it is empty. Throws std::invalid_argument when the
// local time of the moment cannot be computed.
QString FormatTime(std::int64_t time, const char* pattern);

// FormatTime for display: an empty text where the local time cannot be
// computed.
QString FormatTimeOrEmpty(std::int64_t time, const char* pattern);
