#pragma once

#include "server/model/records.h"
#include "server/model/report_frame.h"

#include <QPoint>
#include <QString>

#include <cstdint>
#include <span>

class CAlarmListModel;
class CAlertPresenter;
class CDayJournal;
class CEventListModel;
class CPointBase;
class CPointListModel;
class CSoundPlayer;

// Turns reports into events: registers new points, keeps each point's last
// report, derives one event per report, suppresses repeats, sounds and
// alerts on alarms, journals the event and keeps the three lists current.
class CEventPipeline
{
public:
    struct Lists
    {
        CPointListModel& points;
        CAlarmListModel& alarms;
        CEventListModel& events;
    };

    CEventPipeline(CPointBase& base, CDayJournal& journal, Lists lists, CSoundPlayer& sound,
                   CAlertPresenter& alert);

    // Every report frame with a valid CRC, from GPRS or SMS.
    void AcceptReport(std::span<const std::uint8_t, CReportFrame::kSize> frame, std::uint8_t source);
    void ProcessReport(std::uint32_t serial, std::uint8_t source, bool isNew);
    void RecordEvent(std::uint32_t serial, std::uint8_t source, std::uint8_t code);
    // Records the loss of GPRS for points silent for six minutes or more.
    void SuperviseGprs(std::int64_t now);
    // Rebuilds the three lists from the register and the journals.
    void RefreshLists();

    void UpdatePointRow(const T_EVENT& event);
    void AddEventRow(const T_EVENT& event);
    void AddAlarmRow(const T_EVENT& event);
    void ShowAlert(const T_EVENT& event);

    // After the stop of the server: reports and events are ignored from now on.
    void Close() { closed_ = true; }
    bool IsClosed() const { return closed_; }

    // The alert window was closed at this position.
    void AlertClosed(const QPoint& lastPosition);
    bool alertOpen() const { return alertOpen_; }
    QPoint alertPosition() const { return alertPosition_; }

    // The event code a report frame stands for, before repeats are looked at.
    static std::uint8_t DeriveCode(const std::uint8_t* frame);

    static const QString kAlertCaption;

    const CPointBase& base() const { return base_; }

private:
    CPointBase& base_;
    CDayJournal& journal_;
    Lists lists_;
    CSoundPlayer& sound_;
    CAlertPresenter& alert_;
    bool closed_ = false;
    bool alertOpen_ = false;
    QPoint alertPosition_{-1, -1};
};
