#include "tests/server/server_fixture.h"

#include "server/model/event_codes.h"
#include "server/model/report_frame.h"
#include "server/storage/day_journal.h"

#include <QDir>
#include <QFile>

#include <cstdlib>
#include <ctime>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

T_EVENT Event(std::uint32_t serial, std::uint8_t code, std::int64_t time)
{
    T_EVENT e;
    e.serial = serial;
    e.code = code;
    e.source = SRC_GPRS;
    e.time = time;
    return e;
}

QByteArray Records(const std::vector<T_EVENT>& events)
{
    const auto n = static_cast<std::uint32_t>(events.size());
    return QByteArray(reinterpret_cast<const char*>(&n), 4)
        + QByteArray(reinterpret_cast<const char*>(events.data()), static_cast<qsizetype>(events.size() * 24));
}

// Sets the process time zone for one test.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char* zone) : old_(std::getenv("TZ"))
    {
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        setenv("TZ", old_.c_str(), 1);
        tzset();
    }

private:
    std::string old_;
};

QString Day(const QString& folder, const char* name) { return folder + QLatin1Char('/') + QLatin1String(name); }

} // namespace

using DayJournalTest = PipelineTest;

TEST_F(DayJournalTest, FileNamesFollowTheLocalDate)
{
    EXPECT_EQ(CDayJournal::DayFileName(QStringLiteral("/b"), 1330936496), QStringLiteral("/b/05Mar2012Day.base"));
    EXPECT_EQ(journal.TodayFile(), Day(folder, "10Dec2025Day.base"));
}

TEST_F(DayJournalTest, EmptyDayIsFourBytesAndSavedDayIsCountThenRecords)
{
    journal.SaveToday();
    EXPECT_EQ(ReadAll(journal.TodayFile()), QByteArray::fromHex("00000000"));
    pipeline.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STARTED);
    pipeline.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STOPPED);
    journal.SaveToday();
    const QByteArray bytes = ReadAll(journal.TodayFile());
    EXPECT_EQ(bytes, Records(base.todayEvents()));
    EXPECT_EQ(bytes.mid(4, 24).toHex(), QByteArrayLiteral("50000000" "9036396900000000" "00000000" "0000000000000000"));
}

TEST_F(DayJournalTest, LoadReadsTodayAndTheDay86400SecondsBefore)
{
    const std::vector<T_EVENT> today{Event(1, EV_ARMED, kNoon - 3600)};
    const std::vector<T_EVENT> yesterday{Event(1, EV_SHOCK, kNoon - 86400), Event(2, EV_LIGHT, kNoon - 86000)};
    WriteAll(Day(folder, "10Dec2025Day.base"), Records(today));
    WriteAll(Day(folder, "09Dec2025Day.base"), Records(yesterday));
    journal.LoadJournals();
    ASSERT_EQ(base.todayEvents().size(), 1u);
    ASSERT_EQ(base.yesterdayEvents().size(), 2u);
    EXPECT_EQ(base.LatestEvent(1)->code, EV_ARMED);
    EXPECT_EQ(base.LatestEvent(2)->code, EV_LIGHT);
    EXPECT_EQ(base.today, 10);
}

TEST_F(DayJournalTest, CountsTheFileCannotHonourAndShortFiles)
{
    const std::vector<T_EVENT> three{Event(1, 3, kNoon), Event(2, 4, kNoon), Event(3, 5, kNoon)};
    struct Case { const char* name; QByteArray bytes; std::size_t expected; };
    QByteArray absurd = Records(three);
    absurd.replace(0, 4, QByteArray::fromHex("FFFFFFFF"));
    QByteArray understated = Records(three);
    understated.replace(0, 4, QByteArray::fromHex("02000000"));
    const Case cases[] = {
        {"empty", QByteArray(), 0},
        {"short", QByteArray::fromHex("0500"), 0},
        {"absurd count", absurd, 3},
        {"count beyond a partial record", Records(three).left(4 + 24 * 2 + 10), 2},
        {"count behind its records", understated, 3},
    };
    for (const auto& c : cases) {
        const QString path = Day(folder, "case.base");
        WriteAll(path, c.bytes);
        std::vector<T_EVENT> events{Event(9, 9, 9)};
        ASSERT_TRUE(CDayJournal::ReadDayFile(path, events)) << c.name;
        EXPECT_EQ(events.size(), c.expected) << c.name;
    }
    std::vector<T_EVENT> events;
    EXPECT_FALSE(CDayJournal::ReadDayFile(Day(folder, "missing.base"), events));
}

TEST_F(DayJournalTest, TodaysFileWithAnAbsurdCountIsNeverShortened)
{
    const std::vector<T_EVENT> three{Event(1, 3, kNoon), Event(2, 4, kNoon), Event(3, 5, kNoon)};
    QByteArray bytes = Records(three);
    bytes.replace(0, 4, QByteArray::fromHex("40420F00")); // 1,000,000
    WriteAll(journal.TodayFile(), bytes);
    journal.LoadJournals();
    EXPECT_EQ(base.todayEvents().size(), 3u);
    pipeline.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STARTED);
    std::vector<T_EVENT> onDisk;
    ASSERT_TRUE(CDayJournal::ReadDayFile(journal.TodayFile(), onDisk));
    EXPECT_EQ(onDisk.size(), 4u);
    EXPECT_EQ(ReadAll(journal.TodayFile()).left(4), QByteArray::fromHex("04000000"));
    journal.SaveToday();
    EXPECT_EQ(ReadAll(journal.TodayFile()), Records(base.todayEvents()));
}

TEST_F(DayJournalTest, AnUnreadableTodaysFileIsKeptAside)
{
    // A folder in the place of the day file cannot be read as one.
    ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("10Dec2025Day.base")));
    journal.LoadJournals();
    pipeline.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STARTED);
    EXPECT_EQ(ReadAll(journal.TodayFile()).size(), 28);
    const QStringList kept = QDir(folder).entryList({QStringLiteral("10Dec2025Day.base.*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    EXPECT_EQ(kept, QStringList{QStringLiteral("10Dec2025Day.base.20251210-120000.old")});
}

TEST_F(DayJournalTest, AFailingAppendIsReportedOnceAndNotRetriedUntilTheWholeWrite)
{
    QStringList reasons;
    journal.onAppendFailure = [&reasons](const QString& reason) { reasons << reason; };
    journal.LoadJournals();
    // Something in the way of today's file after start-up.
    ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("10Dec2025Day.base")));
    pipeline.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STARTED);
    ASSERT_EQ(reasons.size(), 1);
    EXPECT_FALSE(reasons.front().isEmpty());
    EXPECT_TRUE(journal.AppendBroken());
    // Out of the way again: the next events are not tried one by one...
    ASSERT_TRUE(QDir(folder).rmdir(QStringLiteral("10Dec2025Day.base")));
    pipeline.RecordEvent(7, SRC_SYSTEM, EV_GPRS_LOST);
    EXPECT_FALSE(QFile::exists(journal.TodayFile()));
    EXPECT_EQ(reasons.size(), 1);
    // ...and the whole-day write keeps every one of them.
    journal.SaveToday();
    EXPECT_EQ(ReadAll(journal.TodayFile()), Records(base.todayEvents()));
    EXPECT_EQ(base.todayEvents().size(), 2u);
}

TEST_F(DayJournalTest, ShutdownJustAfterMidnightWritesTheDayThatEnded)
{
    journal.LoadJournals();
    clock.Set(kNoon + 12 * 3600 - 30); // 23:59:30
    pipeline.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STARTED);
    clock.Set(kNoon + 12 * 3600 + 20); // 00:00:20, before the minute timer saw the date change
    pipeline.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STOPPED);
    journal.SaveToday();
    EXPECT_EQ(ReadAll(Day(folder, "10Dec2025Day.base")), Records(base.todayEvents()));
    EXPECT_FALSE(QFile::exists(Day(folder, "11Dec2025Day.base")));
}

TEST_F(DayJournalTest, RollOverWritesTheEndedDayAndStartsANewFile)
{
    journal.LoadJournals();
    clock.Set(kNoon + 12 * 3600 - 30);
    pipeline.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STARTED);
    const auto ended = base.todayEvents();
    clock.Set(kNoon + 12 * 3600 + 45);
    base.today = 11;
    journal.RollOver();
    EXPECT_TRUE(base.todayEvents().empty());
    ASSERT_EQ(base.yesterdayEvents().size(), 1u);
    EXPECT_EQ(ReadAll(Day(folder, "10Dec2025Day.base")), Records(ended));
    EXPECT_EQ(base.LatestEvent(0)->code, EV_SERVER_STARTED);

    pipeline.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STOPPED);
    EXPECT_EQ(ReadAll(Day(folder, "11Dec2025Day.base")), Records(base.todayEvents()));
    EXPECT_EQ(ReadAll(Day(folder, "10Dec2025Day.base")), Records(ended));

    // The same calendar date again (the timer only compares the day of the
    // month) is no change of date: nothing moves.
    base.today = 12;
    journal.RollOver();
    EXPECT_EQ(base.todayEvents().size(), 1u);
}

TEST_F(DayJournalTest, RollOverAfterADayWithoutEventsWritesAnEmptyFile)
{
    journal.LoadJournals();
    clock.Set(kNoon + 12 * 3600 + 45); // 11 Dec, nothing recorded on the 10th
    base.today = 11;
    journal.RollOver();
    EXPECT_EQ(ReadAll(Day(folder, "10Dec2025Day.base")), QByteArray::fromHex("00000000"));
    clock.Set(kNoon + 36 * 3600 + 45); // 12 Dec, nothing on the 11th either
    base.today = 12;
    journal.RollOver();
    EXPECT_EQ(ReadAll(Day(folder, "11Dec2025Day.base")), QByteArray::fromHex("00000000"));
    EXPECT_TRUE(base.yesterdayEvents().empty());
}

TEST_F(DayJournalTest, SavingTwiceRewritesTodayWithEverything)
{
    journal.LoadJournals();
    Report(1);
    journal.SaveToday();
    Report(2);
    journal.SaveToday();
    EXPECT_EQ(ReadAll(journal.TodayFile()), Records(base.todayEvents()));
    EXPECT_EQ(base.todayEvents().size(), 4u);
}

TEST_F(DayJournalTest, YesterdayIsFound86400SecondsBackAcrossADaylightSavingChange)
{
    ScopedTimeZone zone("Europe/Berlin");
    // 30 Mar 2026 00:30 CEST: clocks went forward on the 29th, so a day of
    // seconds back is 28 Mar 23:30 CET, the day before yesterday.
    const std::int64_t justAfterMidnight = 1774823400;
    clock.Set(justAfterMidnight);
    WriteAll(Day(folder, "28Mar2026Day.base"), Records({Event(1, EV_SHOCK, justAfterMidnight - 86400)}));
    WriteAll(Day(folder, "29Mar2026Day.base"), Records({Event(1, EV_TILT_X, justAfterMidnight - 3600)}));
    journal.LoadJournals();
    ASSERT_EQ(base.yesterdayEvents().size(), 1u);
    EXPECT_EQ(base.yesterdayEvents()[0].code, EV_SHOCK);
    EXPECT_TRUE(base.todayEvents().empty());
}
