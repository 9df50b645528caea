#pragma once

#include "server/modem/sms_record.h"

#include <array>
#include <cstdint>
#include <vector>

class CEventPipeline;

// The report frame an SMS carries: the first 128 characters of its text are
// the frame's 64 bytes as capital hexadecimal digits, high digit first.
// False when fewer than 64 bytes can be read so or the frame's CRC is wrong.
bool DecodeSmsReport(const T_SMS& sms, std::array<std::uint8_t, 64>& frame);

// Hands every message that carries a report frame, in order, to the
// pipeline as a report received by SMS; the others are skipped without a
// trace. Afterwards `messages` is empty and its storage released.
void ProcessSms(std::vector<T_SMS>& messages, CEventPipeline& pipeline);
