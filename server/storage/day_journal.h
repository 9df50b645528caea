#pragma once

#include "server/model/records.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

class CPointBase;

// The day journal files: one per local date, "<base>/<dd><Mon><yyyy>Day.base",
// holding u32 N and N records T_EVENT, oldest first.
//
// Today's file is kept up to date with every recorded event: Append writes
// the new records after those already in the file and then the count, so a
// process killed at any moment loses nothing it recorded, and no event costs
// a rewrite of the whole file. Whole-file writes (SaveToday, RollOver) go to a
// temporary file renamed over the old one.
//
// Today's events are always written to the file of the date they were
// recorded under, even when the clock has passed midnight before the minute
// timer noticed the change of date.
class CDayJournal
{
public:
    explicit CDayJournal(CPointBase& base);
    ~CDayJournal();
    CDayJournal(const CDayJournal&) = delete;
    CDayJournal& operator=(const CDayJournal&) = delete;

    // Reads today's and yesterday's (now − 86400 s) files into the base.
    void LoadJournals();
    // Brings today's file up to date with every event of todayEvents.
    void Append();
    // Writes today's events whole to their file.
    void SaveToday();
    // The change of date: today's events become yesterday's and are written
    // whole to the file of the day that ended; today starts empty.
    void RollOver();

    QString TodayFile() const;

    // Called once, with the system's reason, when today's file cannot be
    // brought up to date event by event (a read-only folder, a file system
    // without shared mappings, a full disk). Appending is then not tried
    // again until the next day; the whole-file writes still are.
    std::function<void(const QString& reason)> onAppendFailure;
    bool AppendBroken() const { return appendBroken_; }
    static QString DayFileName(const QString& folder, std::int64_t moment);

    // Reads the whole records a day file holds, whatever count it declares,
    // allocating nothing beyond the file's size. False when the file cannot
    // be opened.
    static bool ReadDayFile(const QString& path, std::vector<T_EVENT>& events);
    static bool WriteDayFile(const QString& path, const std::vector<T_EVENT>& events);

private:
    void CloseToday();
    void GiveUpAppending();
    bool OpenToday();
    void StartDay(std::int64_t moment);

    CPointBase& base_;
    std::int64_t todayMoment_ = 0;  // a moment of the date todayEvents belongs to
    std::size_t recordsOnDisk_ = 0; // records of todayEvents already in today's file
    int fd_ = -1;                   // today's file, open for appending
    std::uint8_t* count_ = nullptr; // its record count, mapped
    bool appendBroken_ = false;
    bool appendFailureReported_ = false;
};
