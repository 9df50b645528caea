#include "common/settings_store.h"

#include <QSettings>

namespace {

QString Key(const QString& section, const QString& value)
{
    return section + QLatin1Char('/') + value;
}

QSettings Open(const QString& program)
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromUtf16(Settings::kOrganisation), program);
}

} // namespace

CSettingsStore::CSettingsStore(QString program) : program_(std::move(program)) {}

int CSettingsStore::GetInt(const QString& section, const QString& value, int defaultValue) const
{
    const QVariant data = Open(program_).value(Key(section, value));
    if (!data.isValid())
        return defaultValue;
    bool ok = false;
    const int result = data.toString().trimmed().toInt(&ok);
    return ok ? result : defaultValue;
}

std::uint32_t CSettingsStore::GetUInt(const QString& section, const QString& value,
                                     std::uint32_t defaultValue) const
{
    const QVariant data = Open(program_).value(Key(section, value));
    if (!data.isValid())
        return defaultValue;
    bool ok = false;
    const std::uint32_t result = data.toString().trimmed().toUInt(&ok);
    return ok ? result : defaultValue;
}

QString CSettingsStore::GetString(const QString& section, const QString& value,
                                  const QString& defaultValue) const
{
    const QVariant data = Open(program_).value(Key(section, value));
    return data.isValid() ? data.toString() : defaultValue;
}

void CSettingsStore::WriteInt(const QString& section, const QString& value, int data)
{
    auto settings = Open(program_);
    settings.setValue(Key(section, value), data);
}

void CSettingsStore::WriteString(const QString& section, const QString& value, const QString& data)
{
    auto settings = Open(program_);
    settings.setValue(Key(section, value), data);
}
