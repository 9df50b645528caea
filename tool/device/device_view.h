#pragma once

#include <QString>

#include <cstdint>

// What the device operations ask of the main window: its controls addressed
// by template id, the poll timer, and the user's answers. The window
// implements it; the controls' own conversions stay in CTesmarkDevice.
class CDeviceView
{
public:
    virtual ~CDeviceView() = default;

    // Trackbar position and live marker of a threshold slider.
    virtual int Position(int id) const = 0;
    virtual void SetPosition(int id, int position) = 0;
    virtual void SetCurrentValue(int id, int value) = 0;

    virtual bool Checked(int id) const = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    virtual void SetText(int id, const QString& text) = 0;
    // State picture: up while the sensor's input bit is set, down otherwise.
    virtual void SetStatePicture(int id, bool up) = 0;
    // The ten characters at the masked places of a phone edit.
    virtual QString PhoneDigits(int id) const = 0;

    // The window's data exchange of the server address and port: Show puts
    // the numbers into their controls; Take reads the controls and leaves a
    // number unchanged when its control holds none (telling the user so).
    virtual void ShowServer(std::uint32_t address, std::uint32_t port) = 0;
    virtual bool TakeServer(std::uint32_t* address, std::uint32_t* port) = 0;

    // The poll timer: (re)started with a period, or stopped.
    virtual void StartPoll(int periodMs) = 0;
    virtual void StopPoll() = 0;

    // "Вы уверены, что хотите удалить все ключи": true on Yes.
    virtual bool ConfirmClearKeys() = 0;
    // Tells the user that the stored line settings cannot be set on the port.
    virtual void ReportPortRefused(const QString& text) = 0;
};
