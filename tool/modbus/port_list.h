#pragma once

#include <QStringList>

class CSettingsStore;

// Where the machine's serial devices are looked for besides the COM names:
// adapters by their stable name (/dev/serial/by-id/*), then USB serial and
// modem devices (/dev/ttyUSB*, /dev/ttyACM*). Each pattern is a folder and
// a file name pattern.
QStringList DefaultDevicePatterns();

// The serial ports that can be opened now, each opened exclusively and
// closed again at once: COM0 .. COM9 by their names, resolved through the
// store's "Ports" section, then the devices matching the patterns by their
// paths, in the patterns' order and within a pattern by name with numbers
// compared as numbers. A device already listed under another name is not
// listed again.
QStringList ListOpenablePorts(const CSettingsStore& store, const QStringList& devicePatterns);
