#pragma once

#include <QString>

#include <cstdint>

// A file that must not be overwritten is kept beside its path as
// "<path>.<yyyyMMdd-HHmmss>.<tag>", stamped with the local time of `now`.
// Returns the path of the kept file, or an empty text when it could not be
// made.
enum class AsideMode { Move, Copy };
QString KeepAside(const QString& path, const QString& tag, std::int64_t now, AsideMode mode);
