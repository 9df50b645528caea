#include "server/model/point_base.h"

#include "common/clock.h"
#include "common/format_time.h"
#include "common/settings_store.h"

#include <QDir>
#include <QStandardPaths>

#include <algorithm>
#include <stdexcept>

const QString CPointBase::kNewPointPhone = QStringLiteral("+7(000)000-00-00");

namespace {

QString StoredBaseFolder()
{
    const CSettingsStore store(QString::fromUtf16(Settings::kServerProgram));
    return store.GetString(QString::fromUtf16(Settings::kSettingSection),
                           QString::fromUtf16(Settings::kBaseFolder), QString());
}

} // namespace

CPointBase::CPointBase(const CClock& clock) : CPointBase(clock, StoredBaseFolder()) {}

CPointBase::CPointBase(const CClock& clock, const QString& baseFolder)
    : today(DayOfMonth(clock.Now())), clock_(clock), baseFolder_(baseFolder)
{
    // An empty setting means the user's data folder: the root of the drive
    // is no place for a journal.
    if (baseFolder_.isEmpty())
        baseFolder_ = DefaultBaseFolder();
    QDir().mkpath(baseFolder_);
}

int CPointBase::DayOfMonth(std::int64_t time)
{
    const auto tm = LocalTime(time);
    return tm ? tm->tm_mday : 0;
}

QString CPointBase::DefaultBaseFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/')
        + QString::fromUtf16(Settings::kOrganisation) + QLatin1Char('/')
        + QString::fromUtf16(Settings::kServerProgram);
}

void CPointBase::CheckIndex(int index) const
{
    if (index < 0 || index >= count())
        throw std::invalid_argument("point index outside the register");
}

int CPointBase::FindPoint(std::uint32_t serial) const
{
    const auto it = bySerial_.constFind(serial);
    return it == bySerial_.constEnd() ? -1 : it->first;
}

int CPointBase::FindLastPoint(std::uint32_t serial) const
{
    const auto it = bySerial_.constFind(serial);
    return it == bySerial_.constEnd() ? -1 : it->last;
}

std::vector<int> CPointBase::IndicesOf(std::uint32_t serial) const
{
    std::vector<int> indices;
    ForEachIndex(serial, [&](int i) { indices.push_back(i); });
    return indices;
}

void CPointBase::IndexPoint(int index)
{
    auto& entry = bySerial_[serials_[static_cast<std::size_t>(index)]];
    if (entry.matches == 0)
        entry.first = index;
    entry.last = index;
    ++entry.matches;
}

void CPointBase::RebuildRegisterIndex()
{
    bySerial_.clear();
    bySerial_.reserve(count());
    for (int i = 0; i < count(); ++i)
        IndexPoint(i);
}

void CPointBase::AddPoint(std::uint32_t serial)
{
    serials_.push_back(serial);
    names_.emplace_back();
    descriptions_.emplace_back();
    phones_.push_back(kNewPointPhone);
    lastReports_.emplace_back();
    IndexPoint(count() - 1);
}

void CPointBase::RemovePoint(std::uint32_t serial)
{
    if (!bySerial_.contains(serial))
        return;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < serials_.size(); ++i) {
        if (serials_[i] == serial)
            continue;
        if (kept != i) {
            serials_[kept] = serials_[i];
            names_[kept] = std::move(names_[i]);
            descriptions_[kept] = std::move(descriptions_[i]);
            phones_[kept] = std::move(phones_[i]);
            lastReports_[kept] = lastReports_[i];
        }
        ++kept;
    }
    serials_.resize(kept);
    names_.resize(kept);
    descriptions_.resize(kept);
    phones_.resize(kept);
    lastReports_.resize(kept);
    RebuildRegisterIndex();
}

QString CPointBase::DisplayName(int index) const
{
    if (index < 0 || index >= static_cast<int>(names_.size()))
        return {};
    const QString& name = names_[static_cast<std::size_t>(index)];
    if (!name.isEmpty())
        return name;
    return SerialName(serials_[static_cast<std::size_t>(index)]);
}

QString CPointBase::SerialName(std::uint32_t serial)
{
    return QStringLiteral("%1 - %2")
        .arg(serial >> 16, 4, 16, QLatin1Char('0'))
        .arg(serial & 0xFFFF, 4, 16, QLatin1Char('0'))
        .toUpper();
}

QString CPointBase::Description(int index) const
{
    return index >= 0 && index < count() ? descriptions_[static_cast<std::size_t>(index)] : QString();
}

QString CPointBase::Phone(int index) const
{
    return index >= 0 && index < count() ? phones_[static_cast<std::size_t>(index)] : QString();
}

void CPointBase::SetName(int index, const QString& name)
{
    CheckIndex(index);
    names_[static_cast<std::size_t>(index)] = name;
}

void CPointBase::SetDescription(int index, const QString& description)
{
    CheckIndex(index);
    descriptions_[static_cast<std::size_t>(index)] = description;
}

void CPointBase::SetPhone(int index, const QString& phone)
{
    CheckIndex(index);
    phones_[static_cast<std::size_t>(index)] = phone;
}

void CPointBase::SetLastReport(int index, const T_PKTINFO& info)
{
    CheckIndex(index);
    lastReports_[static_cast<std::size_t>(index)] = info;
}

void CPointBase::ReplaceRegister(std::vector<std::uint32_t> serials, std::vector<QString> names,
                                 std::vector<QString> descriptions, std::vector<QString> phones)
{
    if (names.size() != serials.size() || descriptions.size() != serials.size()
        || phones.size() != serials.size())
        throw std::invalid_argument("register arrays of different lengths");
    serials_ = std::move(serials);
    names_ = std::move(names);
    descriptions_ = std::move(descriptions);
    phones_ = std::move(phones);
    lastReports_.assign(serials_.size(), T_PKTINFO{});
    RebuildRegisterIndex();
}

const T_EVENT* CPointBase::LatestTodayEvent(std::uint32_t serial) const
{
    const auto it = latestToday_.constFind(serial);
    return it == latestToday_.constEnd() ? nullptr : &todayEvents_[static_cast<std::size_t>(*it)];
}

const T_EVENT* CPointBase::LatestYesterdayEvent(std::uint32_t serial) const
{
    const auto it = latestYesterday_.constFind(serial);
    return it == latestYesterday_.constEnd() ? nullptr : &yesterdayEvents_[static_cast<std::size_t>(*it)];
}

const T_EVENT* CPointBase::LatestEvent(std::uint32_t serial) const
{
    const T_EVENT* event = LatestTodayEvent(serial);
    return event ? event : LatestYesterdayEvent(serial);
}

void CPointBase::AppendToday(const T_EVENT& event)
{
    todayEvents_.push_back(event);
    latestToday_.insert(event.serial, static_cast<int>(todayEvents_.size() - 1));
}

void CPointBase::IndexEvents(const std::vector<T_EVENT>& events, QHash<std::uint32_t, int>& latest)
{
    latest.clear();
    for (std::size_t i = 0; i < events.size(); ++i)
        latest.insert(events[i].serial, static_cast<int>(i));
}

void CPointBase::SetJournals(std::vector<T_EVENT> todayEvents, std::vector<T_EVENT> yesterdayEvents)
{
    todayEvents_ = std::move(todayEvents);
    yesterdayEvents_ = std::move(yesterdayEvents);
    IndexEvents(todayEvents_, latestToday_);
    IndexEvents(yesterdayEvents_, latestYesterday_);
}

void CPointBase::MoveTodayToYesterday()
{
    yesterdayEvents_ = std::move(todayEvents_);
    todayEvents_.clear();
    latestYesterday_ = std::move(latestToday_);
    latestToday_.clear();
}
