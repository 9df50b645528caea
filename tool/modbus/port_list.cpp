#include "tool/modbus/port_list.h"

#include "common/port_name.h"
#include "common/serial_device.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <set>

namespace {

constexpr int kComPorts = 10;   // COM0 .. COM9

bool Opens(const QString& path)
{
    CSerialDevice device;
    if (!device.Open(path.toStdString()))
        return false;
    device.Close();
    return true;
}

QString Canonical(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

} // namespace

QStringList DefaultDevicePatterns()
{
    return {QStringLiteral("/dev/serial/by-id/*"), QStringLiteral("/dev/ttyUSB*"), QStringLiteral("/dev/ttyACM*")};
}

QStringList ListOpenablePorts(const CSettingsStore& store, const QStringList& devicePatterns)
{
    QStringList ports;
    std::set<QString> devices;
    auto add = [&ports, &devices](const QString& name, const QString& path) {
        const QString device = Canonical(path);
        if (devices.count(device) != 0 || !Opens(path))
            return;
        devices.insert(device);
        ports.append(name);
    };

    for (int n = 0; n < kComPorts; ++n) {
        const QString name = QStringLiteral("COM%1").arg(n);
        if (const auto path = ResolvePortName(store, name))
            add(name, *path);
    }

    QCollator byNumber;
    byNumber.setNumericMode(true);
    for (const QString& pattern : devicePatterns) {
        const QFileInfo where(pattern);
        QDir folder(where.path());
        const QFileInfoList entries =
            folder.entryInfoList({where.fileName()}, QDir::System | QDir::Files | QDir::NoDotAndDotDot);
        QStringList paths;
        for (const QFileInfo& entry : entries)
            paths.append(entry.filePath());
        std::sort(paths.begin(), paths.end(), byNumber);
        for (const QString& path : paths)
            add(path, path);
    }
    return ports;
}
