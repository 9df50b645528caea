#include "tool/modbus/port_list.h"

#include "common/port_name.h"
#include "common/serial_device.h"

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

// Names in order with runs of digits compared as numbers: ttyUSB2 before ttyUSB10.
bool NaturalLess(const QString& a, const QString& b)
{
    auto digit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (!digit(a.at(i)) || !digit(b.at(j))) {
            if (a.at(i) != b.at(j))
                return a.at(i) < b.at(j);
            ++i;
            ++j;
            continue;
        }
        const qsizetype startA = i;
        const qsizetype startB = j;
        while (i < a.size() && digit(a.at(i)))
            ++i;
        while (j < b.size() && digit(b.at(j)))
            ++j;
        QStringView x = QStringView(a).sliced(startA, i - startA);
        QStringView y = QStringView(b).sliced(startB, j - startB);
        while (x.size() > 1 && x.front() == u'0')
            x = x.sliced(1);
        while (y.size() > 1 && y.front() == u'0')
            y = y.sliced(1);
        if (x.size() != y.size())
            return x.size() < y.size();
        if (x != y)
            return x < y;
    }
    return a.size() - i < b.size() - j;
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

    for (const QString& pattern : devicePatterns) {
        const QFileInfo where(pattern);
        QDir folder(where.path());
        const QFileInfoList entries =
            folder.entryInfoList({where.fileName()}, QDir::System | QDir::Files | QDir::NoDotAndDotDot);
        QStringList paths;
        for (const QFileInfo& entry : entries)
            paths.append(entry.filePath());
        std::sort(paths.begin(), paths.end(), NaturalLess);
        for (const QString& path : paths)
            add(path, path);
    }
    return ports;
}
