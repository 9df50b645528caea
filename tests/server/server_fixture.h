#pragma once

#include "common/manual_clock.h"
#include "server/link/alert_presenter.h"
#include "server/link/event_pipeline.h"
#include "server/link/sound_player.h"
#include "server/model/point_base.h"
#include "server/storage/day_journal.h"
#include "server/lists/alarm_list_model.h"
#include "server/lists/event_list_model.h"
#include "server/lists/point_list_model.h"

#include <QAbstractItemModelTester>
#include <QStringList>
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <memory>
#include <vector>

// 10 Dec 2025 12:00:00 in Moscow (UTC+3), the tests' time zone.
inline constexpr std::int64_t kNoon = 1765357200;

// Records what the pipeline asked to play.
class CRecordingSound final : public CSoundPlayer
{
public:
    void Play(const QString& name) override { played << name; }
    QStringList played;
};

// Records the alert windows the pipeline asked for.
class CRecordingAlert final : public CAlertPresenter
{
public:
    struct Shown
    {
        QPoint position;
        QString caption;
        QString text;
    };
    void Show(const QPoint& position, const QString& caption, const QString& text) override
    {
        shown.push_back({position, caption, text});
    }
    std::vector<Shown> shown;
};

// Texts of a list's rows as shown, top first: columns joined with " | ".
QStringList ListRows(const QAbstractItemModel& model);

// An event record as the journal keeps it.
T_EVENT MakeEvent(std::uint32_t serial, std::uint8_t source, std::uint8_t code, std::int64_t time);

// Maps COM0 .. COM9 in the server's settings: the numbers given to their
// paths, every other one to a device that does not exist.
void MapModemPorts(const std::map<int, std::string>& ports);

// A sealed report frame.
std::array<std::uint8_t, 64> MakeFrame(std::uint32_t serial, std::uint16_t flags = 0, std::uint8_t key0 = 0);

// A whole server core over a temporary base folder, with models under test.
class PipelineTest : public ::testing::Test
{
protected:
    PipelineTest();
    ~PipelineTest() override;

    void Report(std::uint32_t serial, std::uint16_t flags = 0, std::uint8_t source = SRC_GPRS,
                std::uint8_t key0 = 0);
    // Announces pending rows to the views, as the list timer would.
    void Flush();
    static QStringList Rows(const QAbstractItemModel& model) { return ListRows(model); }
    std::vector<std::uint8_t> TodayCodes() const;

    QString folder;
    CManualClock clock{kNoon};
    CPointBase base;
    CDayJournal journal{base};
    CPointListModel points;
    CAlarmListModel alarms;
    CEventListModel events;
    CRecordingSound sound;
    CRecordingAlert alert;
    CEventPipeline pipeline;

private:
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers_;
};
