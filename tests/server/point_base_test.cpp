#include "common/manual_clock.h"
#include "server/model/point_base.h"

#include <QDir>
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

namespace {

constexpr std::int64_t kNoon = 1765357200; // 10 Dec 2025 12:00 Moscow

void ExpectConsistent(const CPointBase& base)
{
    const auto n = static_cast<std::size_t>(base.count());
    EXPECT_EQ(base.serials().size(), n);
    EXPECT_EQ(base.names().size(), n);
    EXPECT_EQ(base.descriptions().size(), n);
    EXPECT_EQ(base.phones().size(), n);
    EXPECT_EQ(base.lastReports().size(), n);
}

} // namespace

TEST(PointBase, ConstructionTakesTodayAndAnEmptyBaseFolderMeansTheDataFolder)
{
    CManualClock clock(kNoon);
    const CPointBase base(clock);
    EXPECT_EQ(base.today, 10);
    EXPECT_EQ(base.count(), 0);
    EXPECT_TRUE(base.baseFolder().startsWith(QDir::homePath())) << base.baseFolder().toStdString();
    EXPECT_TRUE(base.baseFolder().endsWith(QStringLiteral("/Ostrel/Varkon")));
    EXPECT_TRUE(QDir(base.baseFolder()).exists());

    CManualClock broken(std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(CPointBase(broken, QDir::tempPath()).today, 0);
}

TEST(PointBase, DisplayNameDescriptionAndPhone)
{
    CManualClock clock(kNoon);
    CPointBase base(clock, QDir::tempPath());
    base.AddPoint(305419896);
    base.AddPoint(123456);
    base.SetName(1, QStringLiteral("Банкомат на Ленина"));
    EXPECT_EQ(base.DisplayName(0), QStringLiteral("1234 - 5678"));
    EXPECT_EQ(base.DisplayName(1), QStringLiteral("Банкомат на Ленина"));
    EXPECT_EQ(base.DisplayName(2), QString());
    EXPECT_EQ(base.DisplayName(-1), QString());
    EXPECT_EQ(base.Phone(0), QStringLiteral("+7(000)000-00-00"));
    EXPECT_EQ(base.Phone(5), QString());
    EXPECT_EQ(base.Description(5), QString());
    base.SetName(1, QString());
    EXPECT_EQ(base.DisplayName(1), QStringLiteral("0001 - E240"));
    EXPECT_THROW(base.SetName(2, QStringLiteral("x")), std::invalid_argument);
    EXPECT_THROW(base.SetLastReport(-1, {}), std::invalid_argument);
    ExpectConsistent(base);
}

TEST(PointBase, AddThenRemoveRestoresTheRegister)
{
    CManualClock clock(kNoon);
    CPointBase base(clock, QDir::tempPath());
    base.AddPoint(1);
    base.AddPoint(2);
    base.SetName(1, QStringLiteral("two"));
    const auto serials = base.serials();
    const auto names = base.names();
    base.AddPoint(3);
    EXPECT_EQ(base.count(), 3);
    EXPECT_EQ(base.FindPoint(3), 2);
    base.RemovePoint(3);
    EXPECT_EQ(base.serials(), serials);
    EXPECT_EQ(base.names(), names);
    EXPECT_EQ(base.FindPoint(3), -1);
    ExpectConsistent(base);
}

TEST(PointBase, DuplicateSerialsFirstMatchFindsAndRemovalTakesAll)
{
    CManualClock clock(kNoon);
    CPointBase base(clock, QDir::tempPath());
    base.ReplaceRegister({7, 8, 7, 9, 7}, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d"), QStringLiteral("e")},
                         std::vector<QString>(5), std::vector<QString>(5, CPointBase::kNewPointPhone));
    EXPECT_EQ(base.FindPoint(7), 0);
    EXPECT_EQ(base.FindLastPoint(7), 4);
    EXPECT_EQ(base.IndicesOf(7), (std::vector<int>{0, 2, 4}));
    base.RemovePoint(7);
    EXPECT_EQ(base.serials(), (std::vector<std::uint32_t>{8, 9}));
    EXPECT_EQ(base.names(), (std::vector<QString>{QStringLiteral("b"), QStringLiteral("d")}));
    EXPECT_EQ(base.FindPoint(9), 1);
    ExpectConsistent(base);
    EXPECT_THROW(base.ReplaceRegister({1, 2}, {}, {}, {}), std::invalid_argument);
}

// The hash indexes must answer exactly what scans of the arrays would.
TEST(PointBase, IndexesAgreeWithLinearSearchUnderRandomChanges)
{
    CManualClock clock(kNoon);
    CPointBase base(clock, QDir::tempPath());
    std::mt19937 random(12345);
    auto serial = [&] { return static_cast<std::uint32_t>(random() % 40); };
    for (int step = 0; step < 3000; ++step) {
        switch (random() % 7) {
        case 0: case 1: base.AddPoint(serial()); break;
        case 2: base.RemovePoint(serial()); break;
        case 3: {
            T_EVENT e;
            e.serial = serial();
            e.code = static_cast<std::uint8_t>(random() % 50);
            base.AppendToday(e);
            break;
        }
        case 4:
            if (random() % 20 == 0)
                base.MoveTodayToYesterday();
            break;
        case 5:
            if (random() % 50 == 0) {
                auto s = base.serials();
                s.push_back(s.empty() ? 1 : s.front()); // duplicate, as a hand-edited file may hold
                const auto n = s.size();
                base.ReplaceRegister(s, std::vector<QString>(n), std::vector<QString>(n), std::vector<QString>(n));
            }
            break;
        default: break;
        }
        const std::uint32_t probe = serial();
        const auto& s = base.serials();
        int first = -1;
        std::vector<int> all;
        for (int i = 0; i < static_cast<int>(s.size()); ++i)
            if (s[static_cast<std::size_t>(i)] == probe) {
                if (first < 0)
                    first = i;
                all.push_back(i);
            }
        ASSERT_EQ(base.FindPoint(probe), first);
        ASSERT_EQ(base.IndicesOf(probe), all);
        auto newest = [&](const std::vector<T_EVENT>& events) -> const T_EVENT* {
            for (auto it = events.rbegin(); it != events.rend(); ++it)
                if (it->serial == probe)
                    return &*it;
            return nullptr;
        };
        const T_EVENT* expected = newest(base.todayEvents());
        if (!expected)
            expected = newest(base.yesterdayEvents());
        ASSERT_EQ(base.LatestEvent(probe), expected);
        ExpectConsistent(base);
    }
}
