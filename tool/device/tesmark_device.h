#pragma once

#include "tool/device/register_image.h"
#include "tool/modbus/local_modbus.h"

#include <QString>

#include <cstdint>
#include <optional>

class CDeviceView;

// The outcome of WriteSettings: refused (nothing sent, the settings of the
// controller on the line were not read), or the result code of the first
// block, which holds the settings and the serial number.
struct T_WRITERESULT
{
    bool refused = false;
    std::uint16_t code = 0;

    bool Written() const { return !refused && code == 0; }
};

// The main window's side facing the controller: the Modbus master, the
// register image, the poll cycle, reading and writing the settings block and
// the key list, and the conversions between registers and controls.
class CTesmarkDevice
{
public:
    static constexpr int kSlowPollMs = 1600;   // opening the port, reading the settings
    static constexpr int kFastPollMs = 700;    // live readings

    explicit CTesmarkDevice(CDeviceView& view);

    // Opens the port from the stored settings; the result is portReady. Line
    // settings the port does not take are reported once, until they change
    // or the port opens.
    bool OpenPort();
    // Closes the port; portReady becomes false once it is closed.
    bool ClosePort();

    void PollStatus();
    bool ReadSettings();
    T_WRITERESULT WriteSettings();
    void ShowKeys();
    void RememberKey();
    void ClearKeys();
    void ShowDisconnected();
    void ShowTemperature(int labelId, int value);
    // Both limit texts of the temperature pair that slider id belongs to.
    void ShowTemperatureLimits(int sliderId);

    CLocalModbus master;
    CRegisterImage image;
    bool portReady = false;
    bool settingsLoaded = false;   // the settings block was read since the last open, failure or write
    bool blinkFlag = false;        // which of the two texts of a failed read comes next
    std::uint32_t serverAddress = 0;
    std::uint32_t serverPort = 0;

private:
    // The line settings last reported as refused.
    struct T_LINEKEY
    {
        QString port;
        std::uint32_t baudRate = 0;
        std::uint16_t dataBits = 0;
        std::uint8_t parity = 0;

        bool operator==(const T_LINEKEY&) const = default;
    };

    CDeviceView& view_;
    std::optional<T_LINEKEY> refusedLine_;
};
