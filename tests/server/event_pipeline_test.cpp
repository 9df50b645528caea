#include "tests/server/server_fixture.h"

#include "server/model/event_codes.h"
#include "server/model/report_frame.h"

#include <QFile>

namespace {

const QString kSafeText = QStringLiteral("Сработал датчик открытия сейфа");

} // namespace

TEST_F(PipelineTest, FirstReportOfAnUnknownPointRegistersIt)
{
    Report(123456);
    ASSERT_EQ(base.count(), 1);
    EXPECT_EQ(base.Phone(0), QStringLiteral("+7(000)000-00-00"));
    EXPECT_EQ(base.lastReports()[0].source, SRC_GPRS);
    EXPECT_EQ(base.lastReports()[0].received, kNoon);
    EXPECT_EQ(base.lastReports()[0].report, MakeFrame(123456));
    EXPECT_EQ(TodayCodes(), (std::vector<std::uint8_t>{EV_NEW_POINT, EV_POINT_FOUND}));
    EXPECT_TRUE(sound.played.isEmpty());
    EXPECT_TRUE(alert.shown.empty());

    Flush();
    EXPECT_EQ(Rows(events), (QStringList{
        QStringLiteral("0001 - E240 | GPRS: Точка обнаружена | 10-Dec-2025 | 12:00"),
        QStringLiteral("0001 - E240 | GPRS: Обнаружена не зарегистрированная точка | 10-Dec-2025 | 12:00")}));
    EXPECT_EQ(Rows(points), QStringList{QStringLiteral("0001 - E240 | Точка обнаружена")});
    EXPECT_EQ(points.index(0, 0).data(Qt::UserRole).toUInt(), 123456u);
    EXPECT_EQ(points.index(0, 0).data(CTopInsertModel::IconIndexRole).toInt(), ICON_STATE);
    EXPECT_EQ(alarms.rowCount(), 0);
}

TEST_F(PipelineTest, DerivedCodeFollowsPrecedence)
{
    struct Case { std::uint16_t flags; std::uint8_t key0; std::uint8_t code; };
    const Case cases[] = {
        {0, 0, EV_NONE},
        {RF_LIGHT, 0, EV_LIGHT},
        {RF_LIGHT | RF_POWER_LOST, 0, EV_POWER_LOST},
        {RF_POWER_LOST | RF_TILT_X, 0, EV_TILT_X},
        {RF_TILT_X | RF_TILT_Y, 0, EV_TILT_Y},
        {RF_TILT_Y | RF_TILT_Z, 0, EV_TILT_Z},
        {RF_TILT_Z | RF_TEMPERATURE_1, 0, EV_TEMPERATURE_1},
        {RF_TEMPERATURE_1 | RF_TEMPERATURE_2, 0, EV_TEMPERATURE_2},
        {RF_TEMPERATURE_2 | RF_SHOCK, 0, EV_SHOCK},
        {RF_SHOCK | RF_CABINET_OPEN, 0, EV_CABINET_OPEN},
        {RF_CABINET_OPEN | RF_SAFE_OPEN, 0, EV_SAFE_OPEN},
        {RF_SAFE_OPEN | RF_TILT_X, 0, EV_SAFE_OPEN},
        {0x03FF, 0x5A, EV_KEY_OPEN},
        {0xFC00, 0, EV_NONE}, // bits the server does not read
    };
    for (const auto& c : cases)
        EXPECT_EQ(CEventPipeline::DeriveCode(MakeFrame(1, c.flags, c.key0).data()), c.code) << c.flags;
}

TEST_F(PipelineTest, AlarmSoundsListsAndAlertsOnceThenRepeatIsSuppressed)
{
    Report(123456);
    Report(123456, RF_SAFE_OPEN | RF_TILT_X);
    EXPECT_EQ(TodayCodes().back(), EV_SAFE_OPEN);
    EXPECT_EQ(sound.played, QStringList{QStringLiteral("alarm.wav")});
    ASSERT_EQ(alert.shown.size(), 1u);
    EXPECT_EQ(alert.shown[0].caption, QStringLiteral(" \"ТРЕВОГА\"!!!"));
    EXPECT_EQ(alert.shown[0].caption.size(), 13);
    EXPECT_EQ(alert.shown[0].text, QStringLiteral("0001 - E240\r\n") + kSafeText);
    EXPECT_EQ(alert.shown[0].position, QPoint(-1, -1));
    EXPECT_TRUE(pipeline.alertOpen());
    Flush();
    EXPECT_EQ(Rows(alarms), QStringList{QStringLiteral("0001 - E240 | ") + kSafeText + QStringLiteral(" | 10.12 12:00")});

    // The same alarm again over GPRS: nothing recorded, nothing sounds, but
    // the point row still ends up showing the alarm.
    const auto recorded = base.todayEvents().size();
    clock.Advance(30);
    Report(123456, RF_SAFE_OPEN);
    EXPECT_EQ(base.todayEvents().size(), recorded);
    EXPECT_EQ(sound.played.size(), 1);
    EXPECT_EQ(base.lastReports()[0].received, kNoon + 30);
    Flush();
    EXPECT_EQ(Rows(points), QStringList{QStringLiteral("0001 - E240 | ") + kSafeText});
    EXPECT_EQ(points.index(0, 0).data(CTopInsertModel::IconIndexRole).toInt(), ICON_ALARM);
}

TEST_F(PipelineTest, SmsAlarmsAreAlwaysRecordedAndSoundButAlertOnlyWhileNoneIsOpen)
{
    Report(5, RF_SHOCK, SRC_SMS);
    Report(5, RF_SHOCK, SRC_SMS);
    EXPECT_EQ(TodayCodes(), (std::vector<std::uint8_t>{EV_NEW_POINT, EV_SHOCK, EV_SHOCK}));
    EXPECT_EQ(sound.played.size(), 2);
    EXPECT_EQ(alert.shown.size(), 1u);

    pipeline.AlertClosed(QPoint(300, 200));
    EXPECT_FALSE(pipeline.alertOpen());
    Report(5, RF_SHOCK, SRC_SMS);
    ASSERT_EQ(alert.shown.size(), 2u);
    EXPECT_EQ(alert.shown[1].position, QPoint(300, 200));

    Report(5, 0, SRC_SMS);
    EXPECT_EQ(TodayCodes().back(), EV_ARMED);
    Flush();
    EXPECT_TRUE(Rows(events).front().contains(QStringLiteral("SMS: Точка на охране")));
}

TEST_F(PipelineTest, WarningsAndKeyEventsAreRecordedWithoutAlarm)
{
    struct Case { std::uint16_t flags; std::uint8_t key0; std::uint8_t code; const char* sound; };
    const Case cases[] = {
        {RF_POWER_LOST, 0, EV_POWER_LOST, "event.mp3"},
        {RF_CABINET_OPEN, 0x11, EV_KEY_OPEN, nullptr},
        {RF_LIGHT, 0, EV_LIGHT, nullptr},
    };
    std::uint32_t serial = 100;
    for (const auto& c : cases) {
        sound.played.clear();
        Report(++serial, c.flags, SRC_GPRS, c.key0);
        EXPECT_EQ(TodayCodes().back(), c.code);
        EXPECT_EQ(sound.played, c.sound ? QStringList{QString::fromLatin1(c.sound)} : QStringList()) << c.code;
    }
    Flush();
    EXPECT_EQ(alarms.rowCount(), 0);
    EXPECT_TRUE(alert.shown.empty());
}

TEST_F(PipelineTest, PlainGprsReportAfterEachKindOfEvent)
{
    struct Case { std::uint8_t before; std::uint8_t recorded; };
    const Case cases[] = {
        {EV_SAFE_OPEN, EV_POINT_FOUND},
        {EV_GPRS_LOST, EV_GPRS_RESTORED},
        {EV_KEY_OPEN, EV_ARMED},
        {EV_ARMED, EV_POINT_FOUND},
        {EV_POINT_FOUND, EV_NONE},   // nothing recorded
        {EV_GPRS_RESTORED, EV_NONE}, // nothing recorded
    };
    std::uint32_t serial = 1000;
    for (const auto& c : cases) {
        base.AddPoint(++serial);
        pipeline.RecordEvent(serial, SRC_SMS, c.before);
        const auto before = base.todayEvents().size();
        Report(serial);
        if (c.recorded == EV_NONE) {
            EXPECT_EQ(base.todayEvents().size(), before) << int(c.before);
        } else {
            ASSERT_EQ(base.todayEvents().size(), before + 1) << int(c.before);
            EXPECT_EQ(base.todayEvents().back().code, c.recorded) << int(c.before);
            EXPECT_EQ(base.todayEvents().back().source, SRC_GPRS);
        }
    }
}

TEST_F(PipelineTest, PlainReportThatRecordsNothingLeavesTheReportIconOnThePointRow)
{
    Report(1);
    Flush();
    EXPECT_EQ(points.index(0, 0).data(CTopInsertModel::IconIndexRole).toInt(), ICON_STATE);
    const auto recorded = base.todayEvents().size();
    Report(1);
    Flush();
    EXPECT_EQ(base.todayEvents().size(), recorded);
    EXPECT_EQ(Rows(points), QStringList{QStringLiteral("0000 - 0001 | Точка обнаружена")});
    EXPECT_EQ(points.index(0, 0).data(CTopInsertModel::IconIndexRole).toInt(), ICON_REPORT);
}

TEST_F(PipelineTest, ServerEventsAreListedAsServiceAndRepeatsAreSuppressed)
{
    pipeline.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STARTED);
    pipeline.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STARTED);
    EXPECT_EQ(TodayCodes(), std::vector<std::uint8_t>{EV_SERVER_STARTED});
    pipeline.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STOPPED);
    pipeline.RecordEvent(0, SRC_SYSTEM, EV_NONE); // stays EV_NONE and is recorded
    EXPECT_EQ(TodayCodes(), (std::vector<std::uint8_t>{EV_SERVER_STARTED, EV_SERVER_STOPPED, EV_NONE}));
    Flush();
    EXPECT_EQ(Rows(events).at(1), QStringLiteral("Сервис | СИСТЕМА: Сервер остановлен | 10-Dec-2025 | 12:00"));
    EXPECT_EQ(events.index(1, 0).data(CTopInsertModel::IconIndexRole).toInt(), ICON_SYSTEM);
    EXPECT_EQ(points.rowCount(), 0);
    EXPECT_TRUE(sound.played.isEmpty());
}

TEST_F(PipelineTest, SilenceOverGprsIsRecordedAfterSixWholeMinutesOnce)
{
    Report(1);
    Report(2, 0, SRC_SMS);
    base.AddPoint(3); // never reported since start-up
    pipeline.SuperviseGprs(kNoon + 359);
    EXPECT_EQ(TodayCodes().back(), EV_ARMED);
    pipeline.SuperviseGprs(kNoon + 360);
    EXPECT_EQ(TodayCodes().back(), EV_GPRS_LOST);
    EXPECT_EQ(base.todayEvents().back().serial, 1u);
    EXPECT_EQ(base.todayEvents().back().source, SRC_SYSTEM);
    const auto count = base.todayEvents().size();
    pipeline.SuperviseGprs(kNoon + 420);
    pipeline.SuperviseGprs(kNoon + 86400);
    EXPECT_EQ(base.todayEvents().size(), count);
    Flush();
    EXPECT_EQ(Rows(events).front(), QStringLiteral("0000 - 0001 | СИСТЕМА: Потеряна GPRS связь с точкой | 10-Dec-2025 | 12:00"));
    EXPECT_EQ(Rows(points).at(1), QStringLiteral("0000 - 0001 | Потеряна GPRS связь с точкой"));
    EXPECT_EQ(points.index(1, 0).data(CTopInsertModel::IconIndexRole).toInt(), ICON_WARNING);

    clock.Advance(400);
    Report(1);
    EXPECT_EQ(TodayCodes().back(), EV_GPRS_RESTORED);
    Flush();
    EXPECT_TRUE(Rows(events).front().contains(QStringLiteral("GPRS: GPRS cвязь с точкой восстановлена")));
}

TEST_F(PipelineTest, SilentPointIsReportedLostAgainOnTheSecondDay)
{
    Report(1);
    pipeline.SuperviseGprs(kNoon + 360);
    clock.Set(kNoon + 86400);
    base.today = 11;
    journal.RollOver();
    pipeline.SuperviseGprs(clock.Now());
    EXPECT_TRUE(base.todayEvents().empty()); // yesterday still holds the loss
    clock.Set(kNoon + 2 * 86400);
    base.today = 12;
    journal.RollOver();
    pipeline.SuperviseGprs(clock.Now());
    EXPECT_EQ(TodayCodes(), std::vector<std::uint8_t>{EV_GPRS_LOST});
}

TEST_F(PipelineTest, RefreshListsRebuildsFromRegisterAndJournals)
{
    base.AddPoint(10); // no events at all
    base.AddPoint(20);
    base.SetName(1, QStringLiteral("Касса"));
    T_EVENT y;
    y.serial = 20;
    y.source = SRC_SMS;
    y.code = EV_TILT_Z;
    y.time = kNoon - 86400;
    T_EVENT t = y;
    t.code = EV_ARMED;
    t.source = SRC_GPRS;
    t.time = kNoon;
    T_EVENT server;
    server.code = EV_SERVER_STARTED;
    server.time = kNoon;
    T_EVENT stranger = t;
    stranger.serial = 99; // not in the register
    base.SetJournals({server, t, stranger}, {y});
    pipeline.RefreshLists();

    EXPECT_EQ(Rows(events), (QStringList{QStringLiteral("Касса | GPRS: Точка на охране | 10-Dec-2025 | 12:00"),
                                         QStringLiteral("Касса | SMS: Сработал датчик наклона оси Z | 09-Dec-2025 | 12:00")}));
    EXPECT_EQ(Rows(alarms), QStringList{QStringLiteral("Касса | SMS: Сработал датчик наклона оси Z | 09.12 12:00")});
    EXPECT_EQ(Rows(points), (QStringList{QStringLiteral("Касса | Точка на охране"),
                                         QStringLiteral("0000 - 000A | GPRS: нет связи")}));
    EXPECT_EQ(points.index(1, 0).data(CTopInsertModel::IconIndexRole).toInt(), ICON_SILENT);

    // Only yesterday holds an event of point 20: that one shows.
    base.SetJournals({}, {y});
    pipeline.RefreshLists();
    EXPECT_EQ(Rows(points).front(), QStringLiteral("Касса | Сработал датчик наклона оси Z"));
    EXPECT_EQ(points.index(0, 0).data(CTopInsertModel::IconIndexRole).toInt(), ICON_ALARM);
}

TEST_F(PipelineTest, DuplicateSerialsGetARowPerRegisterEntry)
{
    base.ReplaceRegister({7, 7}, {QStringLiteral("первая"), QStringLiteral("вторая")}, std::vector<QString>(2),
                         std::vector<QString>(2, CPointBase::kNewPointPhone));
    Report(7, RF_SHOCK);
    Flush();
    EXPECT_EQ(events.rowCount(), 2);
    EXPECT_EQ(alarms.rowCount(), 2);
    EXPECT_EQ(points.rowCount(), 1); // the second entry finds the row the first made
    ASSERT_EQ(alert.shown.size(), 1u);
    EXPECT_TRUE(alert.shown[0].text.startsWith(QStringLiteral("вторая\r\n")));
    EXPECT_EQ(base.lastReports()[0].source, SRC_GPRS);
    EXPECT_EQ(base.lastReports()[1].source, 0);
}

TEST_F(PipelineTest, EveryRecordedEventIsOnDiskAtOnce)
{
    pipeline.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STARTED);
    Report(123456, RF_SAFE_OPEN);
    Report(123456, RF_SAFE_OPEN); // suppressed: nothing more to write
    // What a process killed now would leave behind:
    std::vector<T_EVENT> onDisk;
    ASSERT_TRUE(CDayJournal::ReadDayFile(journal.TodayFile(), onDisk));
    ASSERT_EQ(onDisk.size(), base.todayEvents().size());
    EXPECT_EQ(0, std::memcmp(onDisk.data(), base.todayEvents().data(), onDisk.size() * sizeof(T_EVENT)));
    QFile file(journal.TodayFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(bytes.size(), 4 + 24 * 3);
    EXPECT_EQ(bytes.left(4), QByteArray::fromHex("03000000"));
}
