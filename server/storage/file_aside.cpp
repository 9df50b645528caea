#include "server/storage/file_aside.h"

#include "common/format_time.h"

#include <QDir>
#include <QFile>

QString KeepAside(const QString& path, const QString& tag, std::int64_t now, AsideMode mode)
{
    const QString aside = path + QLatin1Char('.') + FormatTimeOrEmpty(now, "%Y%m%d-%H%M%S") + QLatin1Char('.') + tag;
    QFile::remove(aside);
    const bool kept = mode == AsideMode::Move ? QDir().rename(path, aside) : QFile::copy(path, aside);
    return kept ? aside : QString();
}
