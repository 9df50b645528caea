#pragma once

#include "server/model/records.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <vector>

class CClock;

// The server's data: the register of points (serial number, name,
// description, phone and last report of each) and the events of today and
// yesterday. Points stay in the order they were added; index i of every
// register array describes the same point.
//
// Lookups by serial number go through hash indexes kept up to date by every
// change, so a report costs the same with ten points or ten thousand. They
// give exactly what a scan from index 0 (register) or from the newest event
// (journals) would give.
class CPointBase
{
public:
    // A point added by the server carries this phone until it is edited.
    static const QString kNewPointPhone;

    // Reads the base folder from the server's settings store.
    explicit CPointBase(const CClock& clock);
    CPointBase(const CClock& clock, const QString& baseFolder);

    // Day of the month of the local date when todayEvents was started
    // (0 when the local time could not be computed).
    int today = 0;

    const CClock& Clock() const { return clock_; }
    const QString& baseFolder() const { return baseFolder_; }
    int count() const { return static_cast<int>(serials_.size()); }
    const std::vector<std::uint32_t>& serials() const { return serials_; }
    const std::vector<QString>& names() const { return names_; }
    const std::vector<QString>& descriptions() const { return descriptions_; }
    const std::vector<QString>& phones() const { return phones_; }
    const std::vector<T_PKTINFO>& lastReports() const { return lastReports_; }
    const std::vector<T_EVENT>& todayEvents() const { return todayEvents_; }
    const std::vector<T_EVENT>& yesterdayEvents() const { return yesterdayEvents_; }

    // Index of the first point with this serial number, or -1.
    int FindPoint(std::uint32_t serial) const;
    // Index of the last point with this serial number, or -1.
    int FindLastPoint(std::uint32_t serial) const;
    // Every register index with this serial number, in register order.
    std::vector<int> IndicesOf(std::uint32_t serial) const;
    template <typename F> void ForEachIndex(std::uint32_t serial, F&& f) const;

    void AddPoint(std::uint32_t serial);
    void RemovePoint(std::uint32_t serial);

    QString DisplayName(int index) const;
    // How a point without a name is shown: "1234 - 5678", the high and low
    // 16 bits of its serial number in hexadecimal.
    static QString SerialName(std::uint32_t serial);
    QString Description(int index) const;
    QString Phone(int index) const;

    // Throw std::invalid_argument for an index outside the register.
    void SetName(int index, const QString& name);
    void SetDescription(int index, const QString& description);
    void SetPhone(int index, const QString& phone);
    void SetLastReport(int index, const T_PKTINFO& info);

    // Replaces the whole register; every array must have the same length.
    // Last reports become all zero.
    void ReplaceRegister(std::vector<std::uint32_t> serials, std::vector<QString> names,
                         std::vector<QString> descriptions, std::vector<QString> phones);

    // The newest event of a serial today, else yesterday; nullptr if none.
    const T_EVENT* LatestEvent(std::uint32_t serial) const;
    const T_EVENT* LatestTodayEvent(std::uint32_t serial) const;
    const T_EVENT* LatestYesterdayEvent(std::uint32_t serial) const;

    void AppendToday(const T_EVENT& event);
    void SetJournals(std::vector<T_EVENT> todayEvents, std::vector<T_EVENT> yesterdayEvents);
    // The change of date: today's events become yesterday's, today starts empty.
    void MoveTodayToYesterday();

    // Day of the month of a moment's local date; 0 when it cannot be computed.
    static int DayOfMonth(std::int64_t time);

    // The folder that an empty "Base folder" setting stands for.
    static QString DefaultBaseFolder();

private:
    struct SerialEntry
    {
        int first = -1;
        int last = -1;
        int matches = 0;
    };

    void CheckIndex(int index) const;
    void IndexPoint(int index);
    void RebuildRegisterIndex();
    static void IndexEvents(const std::vector<T_EVENT>& events, QHash<std::uint32_t, int>& latest);

    const CClock& clock_;
    std::vector<T_EVENT> todayEvents_;
    std::vector<T_EVENT> yesterdayEvents_;
    QString baseFolder_;
    std::vector<std::uint32_t> serials_;
    std::vector<QString> names_;
    std::vector<QString> descriptions_;
    std::vector<QString> phones_;
    std::vector<T_PKTINFO> lastReports_;

    QHash<std::uint32_t, SerialEntry> bySerial_;
    QHash<std::uint32_t, int> latestToday_;
    QHash<std::uint32_t, int> latestYesterday_;
};

template <typename F> void CPointBase::ForEachIndex(std::uint32_t serial, F&& f) const
{
    const auto it = bySerial_.constFind(serial);
    if (it == bySerial_.constEnd())
        return;
    if (it->matches == 1) {
        f(it->first);
        return;
    }
    for (int i = it->first; i <= it->last; ++i)
        if (serials_[static_cast<std::size_t>(i)] == serial)
            f(i);
}
