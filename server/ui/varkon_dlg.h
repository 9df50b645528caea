#pragma once

#include "server/link/event_pipeline.h"
#include "server/model/point_base.h"
#include "server/storage/day_journal.h"
#include "server/ui/alarm_list_model.h"
#include "server/ui/event_list_model.h"
#include "server/ui/point_list_model.h"
#include "server/ui/sound_output.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <memory>

class CClock;
class CDesktopAlert;
class CGprsLink;
class QLabel;
class QMessageBox;
class QPushButton;
class QTableView;

// "Сервер мониторинга": the server's one window. It owns the point register
// and journals, the GPRS link, the three lists and the minute timer; closing
// it records the stop of the server and saves today's journal.
class CVarkonDlg final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kMinuteTimerMs = 60000;

    // Runs the whole start-up: controls, listening, register and journals,
    // lists, the start event and the minute timer.
    explicit CVarkonDlg(const CClock& clock, CSoundPlayer* sound = nullptr, QWidget* parent = nullptr);
    ~CVarkonDlg() override;

    void done(int result) override;

    // Supervision of GPRS silence and the change of date.
    void OnMinuteTimer();
    // "Установки": the settings dialog, then listening on the port again.
    void OpenSettings();
    // "Журнал": today's journal is saved for the journal browser.
    void OpenJournal();
    // Re-reads the port from the settings store and listens on it.
    void ListenOnStoredPort();

    std::uint32_t port = 0;

    CPointBase& pointBase() { return pointBase_; }
    CDayJournal& journal() { return journal_; }
    CEventPipeline& pipeline() { return pipeline_; }
    CGprsLink& link() { return *link_; }
    CPointListModel& points() { return points_; }
    CAlarmListModel& alarms() { return alarms_; }
    CEventListModel& events() { return events_; }
    CDesktopAlert& desktopAlert() { return *alert_; }
    QTimer& minuteTimer() { return minuteTimer_; }

private:
    void CreateControls();
    void StartUp();
    void Shutdown();
    void ShowEventMenu(const QPoint& at);
    void ShowMessage(const QString& text);
    void ShowReceiveError();

    const CClock& clock_;
    CPointBase pointBase_;
    CDayJournal journal_;
    CPointListModel points_;
    CAlarmListModel alarms_;
    CEventListModel events_;
    CSoundOutput ownSound_;
    CDesktopAlert* alert_;
    CEventPipeline pipeline_;
    std::unique_ptr<CGprsLink> link_;
    QTimer minuteTimer_;
    QTableView* pointList_ = nullptr;
    QTableView* alarmList_ = nullptr;
    QTableView* eventList_ = nullptr;
    QLabel* statusText_ = nullptr;
    QPointer<QMessageBox> errorBox_;
    bool shutDown_ = false;
};
