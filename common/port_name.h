#pragma once

#include <QString>

#include <optional>

class CSettingsStore;

// The device path of a serial port name. "COMn" is looked up in the
// program's "Ports" section (value "COMn" = device path); an unmapped COMn
// with n >= 1 is /dev/ttyS<n-1>, an unmapped COM0 is no device. A name that
// starts with "/" is a device path and is used as it is. Anything else names
// no device.
std::optional<QString> ResolvePortName(const CSettingsStore& store, const QString& name);
