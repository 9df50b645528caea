#include "tool/device/tesmark_device.h"

#include "tool/device/control_ids.h"
#include "tool/device/device_texts.h"
#include "tool/device/device_view.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr std::array<int, 6> kTiltSliders = {IDC_TILT1_LOWER, IDC_TILT1_UPPER, IDC_TILT2_LOWER,
                                             IDC_TILT2_UPPER, IDC_TILT3_LOWER, IDC_TILT3_UPPER};
constexpr std::array<int, 4> kTemperatureSliders = {IDC_TEMP1_LOWER, IDC_TEMP1_UPPER, IDC_TEMP2_LOWER,
                                                    IDC_TEMP2_UPPER};

// The limit texts and the slider each one follows.
struct T_LIMITTEXT
{
    int labelId;
    int sliderId;
};
constexpr std::array<T_LIMITTEXT, 4> kLimitTexts = {{{IDC_TEMP1_LOWER_TEXT, IDC_TEMP1_LOWER},
                                                     {IDC_TEMP1_UPPER_TEXT, IDC_TEMP1_UPPER},
                                                     {IDC_TEMP2_LOWER_TEXT, IDC_TEMP2_LOWER},
                                                     {IDC_TEMP2_UPPER_TEXT, IDC_TEMP2_UPPER}}};

// Disconnected display: every marker at 996 (clamped into each slider's
// range), the thumbs at the widest limits, light in the middle.
constexpr int kDisconnectedMarker = 996;
constexpr int kDisconnectedLightMarker = 4096;
constexpr int kDisconnectedLightPosition = 2048;

constexpr std::uint8_t kEmptyByte0 = 0x00;
constexpr std::uint8_t kEmptyByteF = 0xFF;
constexpr int kKeySlots = 16;

bool Absent(std::uint8_t b) { return b == kEmptyByte0 || b == kEmptyByteF; }

const QString& DisconnectedText()
{
    static const QString text = QStringLiteral("Устройство не подключено");
    return text;
}

// Bits of a mask from the boxes of a table; bits the table does not cover
// keep what the controller holds.
template <std::size_t N>
void TakeBits(T_NUMBER16& mask, const std::array<int, N>& boxes, const CDeviceView& view)
{
    std::uint16_t value = mask.Get();
    for (std::size_t bit = 0; bit < N; ++bit) {
        const auto flag = static_cast<std::uint16_t>(1u << bit);
        value = view.Checked(boxes[bit]) ? (value | flag) : (value & ~flag);
    }
    mask.Set(value);
}

template <std::size_t N>
void ShowBits(const T_NUMBER16& mask, const std::array<int, N>& boxes, CDeviceView& view)
{
    for (std::size_t bit = 0; bit < N; ++bit)
        view.SetChecked(boxes[bit], (mask.Get() >> bit) & 1);
}

} // namespace

CTesmarkDevice::CTesmarkDevice(CDeviceView& view) : view_(view) {}

bool CTesmarkDevice::OpenPort()
{
    portReady = OpenFromSettings(master);
    if (portReady) {
        refusedLine_.reset();
        return true;
    }
    // A port that is missing or held elsewhere is the disconnected display's
    // business; settings the port refuses would keep it closed for good
    // without a word.
    const CLocalModbus::T_OPENFAILURE failure = master.LastOpenFailure();
    if (failure.step != CLocalModbus::EOpenStep::kLine)
        return false;
    const T_LINEKEY line{master.portName, master.baudRate, master.dataBits, master.parity};
    if (refusedLine_ == line)
        return false;
    refusedLine_ = line;
    view_.ReportPortRefused(LineRefusedText(master.portName, master.baudRate, master.dataBits, master.parity,
                                            failure.error));
    return false;
}

bool CTesmarkDevice::ClosePort()
{
    if (master.IsOpen() && !master.Close())
        return false;
    portReady = false;
    return true;
}

void CTesmarkDevice::PollStatus()
{
    if (!portReady && !OpenPort())
        return;
    if (!settingsLoaded) {
        settingsLoaded = ReadSettings();
        if (settingsLoaded)
            view_.StartPoll(kFastPollMs);
        return;
    }

    std::vector<std::uint16_t> values;
    if (master.ReadInputRegisters(CRegisterImage::kStatusRegisters, values) != MB_OK) {
        settingsLoaded = false;
        view_.StartPoll(kSlowPollMs);
        return;
    }
    image.StoreStatus(values);

    const T_STATUS& s = image.status;
    const int tilts[] = {s.tiltX.Get(), s.tiltY.Get(), s.tiltZ.Get()};
    for (int axis = 0; axis < 3; ++axis) {
        view_.SetCurrentValue(kTiltSliders[2 * axis + 1], kTiltScale - tilts[axis]);
        view_.SetCurrentValue(kTiltSliders[2 * axis], kTiltScale - tilts[axis]);
    }
    view_.SetCurrentValue(IDC_LIGHT, kTiltScale - s.light.Get());
    view_.SetCurrentValue(IDC_TEMP1_LOWER, kTemperatureScale - s.temperature1.Get());
    view_.SetCurrentValue(IDC_TEMP1_UPPER, kTemperatureScale - s.temperature1.Get());
    ShowTemperature(IDC_TEMP1_TEXT, s.temperature1.Get());
    view_.SetCurrentValue(IDC_TEMP2_LOWER, kTemperatureScale - s.temperature2.Get());
    view_.SetCurrentValue(IDC_TEMP2_UPPER, kTemperatureScale - s.temperature2.Get());
    ShowTemperature(IDC_TEMP2_TEXT, s.temperature2.Get());
    for (std::size_t n = 0; n < kStatePictures.size(); ++n)
        view_.SetStatePicture(kStatePictures[n], (s.inputState.Get() >> n) & 1);
    view_.SetText(IDC_LAST_KEY, LastKeyText(s.lastKey));
}

bool CTesmarkDevice::ReadSettings()
{
    std::vector<std::uint16_t> values;
    if (master.ReadHoldingRegisters(CRegisterImage::kBlockRegisters, 0, values) != MB_OK) {
        view_.SetText(IDC_STATUS, blinkFlag ? DisconnectedText() : DisconnectedText() + QStringLiteral(" ..."));
        blinkFlag = !blinkFlag;
        ClosePort();
        return false;
    }
    image.StoreHolding(0, values);
    if (master.ReadHoldingRegisters(CRegisterImage::kBlockRegisters, CRegisterImage::kBlockRegisters, values) != MB_OK)
        return false;
    image.StoreHolding(CRegisterImage::kBlockRegisters, values);

    view_.SetText(IDC_STATUS, FormatSerial(image));
    const T_SETTINGS& s = image.settings;
    serverAddress = ::ServerAddress(image);
    serverPort = s.serverPort.Get();
    for (std::size_t i = 0; i < kTiltSliders.size(); ++i)
        view_.SetPosition(kTiltSliders[i], kTiltScale - s.tiltLimit[i].Get());
    for (std::size_t i = 0; i < kTemperatureSliders.size(); ++i)
        view_.SetPosition(kTemperatureSliders[i], kTemperatureScale - s.temperatureLimit[i].Get());
    view_.SetPosition(IDC_LIGHT, kTiltScale - s.lightLimit.Get());
    ShowBits(s.sirenMask, kSirenBoxes, view_);
    ShowBits(s.gprsMask, kGprsBoxes, view_);
    ShowBits(s.polarityMask, kPolarityBoxes, view_);
    ShowKeys();
    view_.ShowServer(serverAddress, serverPort);
    view_.SetText(IDC_SERVER_PHONE, PhoneText(s.serverPhone));
    view_.SetText(IDC_SMS_PHONE, PhoneText(s.smsPhone));
    for (const T_LIMITTEXT& t : kLimitTexts)
        ShowTemperature(t.labelId, kTemperatureScale - view_.Position(t.sliderId));
    return true;
}

T_WRITERESULT CTesmarkDevice::WriteSettings()
{
    // Until the settings block of the controller on the line has been read,
    // the image holds no settings of that controller (nothing at all, or
    // another controller's): writing it would overwrite its serial number,
    // keys and settings.
    if (!settingsLoaded) {
        view_.StartPoll(kSlowPollMs);
        return {.refused = true};
    }

    view_.StopPoll();
    view_.TakeServer(&serverAddress, &serverPort);
    T_SETTINGS& s = image.settings;
    for (std::size_t i = 0; i < kTiltSliders.size(); ++i)
        s.tiltLimit[i].Set(static_cast<std::uint16_t>(kTiltScale - view_.Position(kTiltSliders[i])));
    for (std::size_t i = 0; i < kTemperatureSliders.size(); ++i)
        s.temperatureLimit[i].Set(static_cast<std::uint16_t>(kTemperatureScale - view_.Position(kTemperatureSliders[i])));
    s.lightLimit.Set(static_cast<std::uint16_t>(kTiltScale - view_.Position(IDC_LIGHT)));
    SetServerAddress(image, serverAddress);
    s.serverPort.Set(static_cast<std::uint16_t>(serverPort));
    TakeBits(s.sirenMask, kSirenBoxes, view_);
    TakeBits(s.gprsMask, kGprsBoxes, view_);
    TakeBits(s.polarityMask, kPolarityBoxes, view_);
    StorePhone(s.smsPhone, view_.PhoneDigits(IDC_SMS_PHONE));
    StorePhone(s.serverPhone, view_.PhoneDigits(IDC_SERVER_PHONE));

    const std::uint16_t count = CRegisterImage::kBlockRegisters;
    const std::uint16_t code = master.WriteMultipleRegisters(count, 0, image.HoldingRegisters(0, count));
    if (code == MB_OK)
        master.WriteMultipleRegisters(count, count, image.HoldingRegisters(count, count));

    ShowDisconnected();
    settingsLoaded = false;
    view_.StartPoll(kSlowPollMs);
    return {.refused = false, .code = code};
}

void CTesmarkDevice::ShowKeys()
{
    for (int slot = 0; slot < kKeySlots; ++slot)
        view_.SetText(IDC_KEY1 + slot, KeySlotText(slot, image.settings.keys[slot]));
}

void CTesmarkDevice::RememberKey()
{
    const T_KEY key = image.status.lastKey;
    if (Absent(key.k[0]))
        return;
    T_SETTINGS& s = image.settings;
    if (std::find(std::begin(s.keys), std::end(s.keys), key) != std::end(s.keys))
        return;

    const auto empty = std::find_if(std::begin(s.keys), std::end(s.keys), [](const T_KEY& k) { return Absent(k.k[7]); });
    if (empty != std::end(s.keys)) {
        *empty = key;
    } else {
        // Every slot is taken: the least used key gives way, and the newcomer
        // counts as the most used so that it is not the next to go.
        auto counter = [&s](int slot) { return s.keyCounter[slot].Get(); };
        int smallest = 0;
        std::uint16_t largest = counter(0);
        for (int slot = 1; slot < kKeySlots; ++slot) {
            if (counter(slot) < counter(smallest))
                smallest = slot;
            largest = std::max(largest, counter(slot));
        }
        s.keys[smallest] = key;
        s.keyCounter[smallest].Set(largest);
    }
    ShowKeys();
}

void CTesmarkDevice::ClearKeys()
{
    if (!view_.ConfirmClearKeys())
        return;
    std::memset(image.settings.keys, kEmptyByteF, sizeof(image.settings.keys));
    ShowKeys();
}

void CTesmarkDevice::ShowDisconnected()
{
    for (int id : kTiltSliders)
        view_.SetCurrentValue(id, kDisconnectedMarker);
    for (int id : kTemperatureSliders)
        view_.SetCurrentValue(id, kDisconnectedMarker);
    view_.SetCurrentValue(IDC_LIGHT, kDisconnectedLightMarker);

    for (std::size_t axis = 0; axis < 3; ++axis) {
        view_.SetPosition(kTiltSliders[2 * axis], kTiltMax);
        view_.SetPosition(kTiltSliders[2 * axis + 1], kTiltMin);
    }
    view_.SetPosition(IDC_TEMP1_LOWER, kTemperatureMax);
    view_.SetPosition(IDC_TEMP2_LOWER, kTemperatureMax);
    view_.SetPosition(IDC_TEMP1_UPPER, kTemperatureMin);
    view_.SetPosition(IDC_TEMP2_UPPER, kTemperatureMin);
    view_.SetPosition(IDC_LIGHT, kDisconnectedLightPosition);
    view_.SetText(IDC_STATUS, DisconnectedText());
}

void CTesmarkDevice::ShowTemperature(int labelId, int value)
{
    view_.SetText(labelId, TemperatureText(value));
}

void CTesmarkDevice::ShowTemperatureLimits(int sliderId)
{
    const bool first = sliderId == IDC_TEMP1_LOWER || sliderId == IDC_TEMP1_UPPER;
    const bool second = sliderId == IDC_TEMP2_LOWER || sliderId == IDC_TEMP2_UPPER;
    for (const T_LIMITTEXT& t : kLimitTexts) {
        const bool ofFirst = t.sliderId == IDC_TEMP1_LOWER || t.sliderId == IDC_TEMP1_UPPER;
        if ((first && ofFirst) || (second && !ofFirst))
            ShowTemperature(t.labelId, kTemperatureScale - view_.Position(t.sliderId));
    }
}
