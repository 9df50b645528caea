#pragma once

#include <QString>

#include <cstdint>

class CRegisterImage;
struct T_KEY;

// A key written out: k1 k2 - k3 k4 - k5 k6 - k7 - k0, two hex digits a byte.
QString FormatKey(const T_KEY& key);
// "Ключ 1: ..." for slot 0 up to "Ключ 16: ..." for slot 15.
QString KeySlotText(int slot, const T_KEY& key);
// "Ключ: ..." for the key last presented.
QString LastKeyText(const T_KEY& key);
// "Серийный номер", a line break, then prefix and serial number: 01.02-0001-E240.
QString FormatSerial(const CRegisterImage& image);
// "%.1f °C" of (value - 440) / 8.
QString TemperatureText(int value);

// The 12 phone characters "+7" and 10 digits shown as +7(910)000-00-00.
QString PhoneText(const std::uint8_t (&phone)[12]);
// Stores "+7" and the ten characters the masked edit holds into the phone;
// characters beyond Latin-1 become '?', missing ones '_'.
void StorePhone(std::uint8_t (&phone)[12], const QString& digits);

// The server address as a 32-bit value, first octet most significant.
std::uint32_t ServerAddress(const CRegisterImage& image);
void SetServerAddress(CRegisterImage& image, std::uint32_t address);

// Why the port does not open with the stored line settings: the speed when
// the system has no such speed, otherwise all the line settings, and the
// system's reason (errno).
QString LineRefusedText(const QString& port, std::uint32_t baudRate, std::uint16_t dataBits, std::uint8_t parity,
                        int error);
// "0000-0001": the two 16-bit halves of a serial number in hexadecimal.
QString SerialNumberText(std::uint32_t serial);
