#include "server/link/event_pipeline.h"

#include "common/clock.h"
#include "server/link/alert_presenter.h"
#include "server/link/sound_player.h"
#include "server/model/event_codes.h"
#include "server/model/point_base.h"
#include "server/model/report_frame.h"
#include "server/storage/day_journal.h"
#include "server/lists/alarm_list_model.h"
#include "server/lists/event_list_model.h"
#include "server/lists/point_list_model.h"

#include <algorithm>

namespace {

constexpr std::int64_t kGprsSilenceMinutes = 6;

const QString kServiceName = QStringLiteral("Сервис");
const QString kAlarmSound = QStringLiteral("alarm.wav");
const QString kPowerSound = QStringLiteral("event.mp3");

// Sensor bit and event code, lowest precedence first: the last bit set wins.
struct Precedence
{
    std::uint16_t bit;
    std::uint8_t code;
};
constexpr Precedence kPrecedence[] = {
    {RF_LIGHT, EV_LIGHT},
    {RF_POWER_LOST, EV_POWER_LOST},
    {RF_TILT_X, EV_TILT_X},
    {RF_TILT_Y, EV_TILT_Y},
    {RF_TILT_Z, EV_TILT_Z},
    {RF_TEMPERATURE_1, EV_TEMPERATURE_1},
    {RF_TEMPERATURE_2, EV_TEMPERATURE_2},
    {RF_SHOCK, EV_SHOCK},
    {RF_CABINET_OPEN, EV_CABINET_OPEN},
    {RF_SAFE_OPEN, EV_SAFE_OPEN},
};

// Whole minutes between two moments, rounded towards zero.
std::int64_t MinutesBetween(std::int64_t from, std::int64_t to) { return (to - from) / 60; }

} // namespace

const QString CEventPipeline::kAlertCaption = QStringLiteral(" \"ТРЕВОГА\"!!!");

CEventPipeline::CEventPipeline(CPointBase& base, CDayJournal& journal, Lists lists, CSoundPlayer& sound,
                               CAlertPresenter& alert)
    : base_(base), journal_(journal), lists_(lists), sound_(sound), alert_(alert)
{
}

std::uint8_t CEventPipeline::DeriveCode(const std::uint8_t* frame)
{
    const std::uint16_t flags = CReportFrame::WordOf(frame, CReportFrame::kFlagsOffset);
    std::uint8_t code = EV_NONE;
    for (const auto& p : kPrecedence)
        if (flags & p.bit)
            code = p.code;
    if (frame[CReportFrame::kKeyOffset] != 0)
        code = EV_KEY_OPEN;
    return code;
}

void CEventPipeline::AcceptReport(std::span<const std::uint8_t, CReportFrame::kSize> frame, std::uint8_t source)
{
    if (closed_)
        return;
    const std::uint32_t serial = FrameSerial(frame.data());
    int i = base_.FindPoint(serial);
    bool isNew = false;
    if (i < 0) {
        base_.AddPoint(serial);
        i = base_.count() - 1;
        isNew = true;
    }
    T_PKTINFO info;
    std::copy(frame.begin(), frame.end(), info.report.begin());
    info.received = base_.Clock().Now();
    info.source = source;
    base_.SetLastReport(i, info);
    ProcessReport(serial, source, isNew);
}

void CEventPipeline::ProcessReport(std::uint32_t serial, std::uint8_t source, bool isNew)
{
    const int row = lists_.points.FindRow(serial);
    if (row >= 0)
        lists_.points.SetIcon(row, ICON_REPORT);
    const int j = base_.FindPoint(serial);
    if (j < 0)
        return;
    if (isNew)
        RecordEvent(serial, source, EV_NEW_POINT);
    const std::uint8_t code = DeriveCode(base_.lastReports()[static_cast<std::size_t>(j)].report.data());
    RecordEvent(serial, source, code);
}

void CEventPipeline::RecordEvent(std::uint32_t serial, std::uint8_t source, std::uint8_t code)
{
    if (closed_)
        return;
    T_EVENT event;
    event.code = code;
    event.source = source;
    event.time = base_.Clock().Now();
    event.serial = serial;

    std::uint8_t last = 0;
    bool differs = true;
    if (source != SRC_SMS) {
        if (const T_EVENT* previous = base_.LatestEvent(serial)) {
            last = previous->code;
            differs = last != code;
        }
    }
    if (!differs) {
        UpdatePointRow(event);
        return;
    }

    if (event.code == EV_NONE) {
        if (source == SRC_GPRS) {
            if (last == EV_GPRS_LOST) {
                event.code = EV_GPRS_RESTORED;
            } else if (last == EV_POINT_FOUND || last == EV_GPRS_RESTORED) {
                UpdatePointRow(event);
                return;
            } else {
                event.code = last == EV_KEY_OPEN ? EV_ARMED : EV_POINT_FOUND;
            }
        } else if (source == SRC_SMS) {
            event.code = EV_ARMED;
        }
    } else if (source != SRC_SYSTEM && IsSounding(event.code)) {
        sound_.Play(event.code == EV_POWER_LOST ? kPowerSound : kAlarmSound);
        AddAlarmRow(event);
        ShowAlert(event);
    }

    base_.AppendToday(event);
    journal_.Append();
    AddEventRow(event);
    UpdatePointRow(event);
}

void CEventPipeline::UpdatePointRow(const T_EVENT& event)
{
    if (event.code == EV_NONE || (event.source == SRC_SYSTEM && event.code != EV_GPRS_LOST))
        return;
    base_.ForEachIndex(event.serial, [&](int index) {
        int row = lists_.points.FindRow(event.serial);
        if (row < 0) {
            if (event.serial == 0)
                return;
            row = lists_.points.InsertTop(base_.DisplayName(index), event.serial);
        }
        lists_.points.SetEvent(row, event.code);
    });
}

void CEventPipeline::AddEventRow(const T_EVENT& event)
{
    if (event.serial == 0) {
        lists_.events.InsertTop(kServiceName, event);
        return;
    }
    base_.ForEachIndex(event.serial,
                       [&](int index) { lists_.events.InsertTop(base_.names()[static_cast<std::size_t>(index)], event); });
}

void CEventPipeline::AddAlarmRow(const T_EVENT& event)
{
    if (!IsAlarm(event.code))
        return;
    base_.ForEachIndex(event.serial,
                       [&](int index) {
                           lists_.alarms.InsertTop(base_.names()[static_cast<std::size_t>(index)], event, false);
                       });
}

void CEventPipeline::ShowAlert(const T_EVENT& event)
{
    if (alertOpen_ || !IsAlarm(event.code))
        return;
    const QString text = base_.DisplayName(base_.FindLastPoint(event.serial)) + QStringLiteral("\r\n")
        + EventText(event.code).text;
    alertOpen_ = true;
    alert_.Show(alertPosition_, kAlertCaption, text);
}

void CEventPipeline::AlertClosed(const QPoint& lastPosition)
{
    alertPosition_ = lastPosition;
    alertOpen_ = false;
}

void CEventPipeline::SuperviseGprs(std::int64_t now)
{
    // Recording never changes the register, so walking it by index is safe.
    for (int i = 0; i < base_.count(); ++i) {
        const T_PKTINFO& info = base_.lastReports()[static_cast<std::size_t>(i)];
        if (info.source == SRC_GPRS && MinutesBetween(info.received, now) >= kGprsSilenceMinutes)
            RecordEvent(base_.serials()[static_cast<std::size_t>(i)], SRC_SYSTEM, EV_GPRS_LOST);
    }
}

void CEventPipeline::RefreshLists()
{
    lists_.events.BeginRebuild();
    lists_.alarms.BeginRebuild();
    lists_.points.BeginRebuild();
    lists_.events.Reserve(base_.yesterdayEvents().size() + base_.todayEvents().size());

    for (const auto* journal : {&base_.yesterdayEvents(), &base_.todayEvents()}) {
        for (const T_EVENT& event : *journal) {
            const bool alarm = IsAlarm(event.code);
            base_.ForEachIndex(event.serial, [&](int index) {
                const QString& name = base_.names()[static_cast<std::size_t>(index)];
                lists_.events.InsertTop(name, event);
                if (alarm)
                    lists_.alarms.InsertTop(name, event, true);
            });
        }
    }

    for (int i = 0; i < base_.count(); ++i) {
        const std::uint32_t serial = base_.serials()[static_cast<std::size_t>(i)];
        const int row = lists_.points.InsertTop(base_.DisplayName(i), serial);
        if (const T_EVENT* latest = base_.LatestEvent(serial))
            lists_.points.SetEvent(row, latest->code);
        else
            lists_.points.SetSilent(row);
    }

    lists_.points.EndRebuild();
    lists_.alarms.EndRebuild();
    lists_.events.EndRebuild();
}
