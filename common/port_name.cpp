#include "common/port_name.h"

#include "common/settings_store.h"

namespace {

// Port numbers above this are not port names but typing errors.
constexpr unsigned kMaxPortNumber = 9999;

} // namespace

std::optional<QString> ResolvePortName(const CSettingsStore& store, const QString& name)
{
    if (name.startsWith(QLatin1Char('/')))
        return name;

    const QLatin1StringView prefix("COM");
    if (!name.startsWith(prefix, Qt::CaseInsensitive) || name.size() == prefix.size())
        return std::nullopt;
    unsigned number = 0;
    for (qsizetype i = prefix.size(); i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        number = number * 10 + static_cast<unsigned>(c.unicode() - u'0');
        if (number > kMaxPortNumber)
            return std::nullopt;
    }

    const QString key = QStringLiteral("COM%1").arg(number);
    const QString mapped = store.GetString(QString::fromUtf16(Settings::kPortsSection), key, QString());
    if (!mapped.isEmpty())
        return mapped;
    if (number == 0)
        return std::nullopt;
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}
