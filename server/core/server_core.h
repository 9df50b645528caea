#pragma once

#include "server/core/external_ip_check.h"
#include "server/core/modem_link.h"
#include "server/link/event_pipeline.h"
#include "server/lists/alarm_list_model.h"
#include "server/lists/event_list_model.h"
#include "server/lists/point_list_model.h"
#include "server/model/point_base.h"
#include "server/storage/day_journal.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>

class CAlertPresenter;
class CClock;
class CGprsLink;
class CSoundPlayer;

// The whole server without its window: the point register and journals, the
// three lists, the event pipeline, the GPRS link, the GSM modem and the
// minute and modem timers, with the start-up and shutdown sequences. The
// window owns one, shows its lists and carries the user's commands to it;
// what the operator must be told comes out as signals.
//
// After Shutdown nothing listens, records or writes any more, whatever is
// asked of the core afterwards.
class CServerCore final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMinuteTimerMs = 60000;
    static constexpr int kModemTimerMs = 5000;
    static const QString kModemNotFound;
    static const QString kModemFailed;

    CServerCore(const CClock& clock, CSoundPlayer& sound, CAlertPresenter& alert, QObject* parent = nullptr);
    ~CServerCore() override;

    // Listening, the public address check (which goes on in the
    // background), register and journals, lists, the start event, the minute
    // timer and the search for the GSM modem, in this order. The modem timer
    // starts once a modem has answered.
    void StartUp();
    // Stops listening, records the stop of the server, saves today's
    // journal and stops the modem. Runs once; the destructor runs it when
    // nobody did.
    void Shutdown();
    bool IsShutDown() const { return shutDown_; }

    // Supervision of GPRS silence and the change of date.
    void OnMinuteTimer();
    // A poll of the GSM modem, unless the previous one is still under way.
    void OnModemTimer();
    // Re-reads the port from the settings store and listens on it; an
    // operator is told through listenFailed when that is impossible.
    void ListenOnStoredPort();
    // The settings were confirmed: connections are dropped, listening
    // starts again on the stored port and the public address is checked.
    void SettingsChanged();
    // Starts the public address check on the server's port; a check still
    // running is superseded. Its outcome fills externalIp and comes out as
    // externalAddressChecked.
    void CheckExternalAddress();
    // The port controllers are to report to: the one listened on, else the
    // stored one.
    std::uint32_t ServerPort() const;
    // Today's journal is saved whole, for the journal browser.
    void SaveJournal();

    std::uint32_t port = 0;
    // The server's public address as the service last gave it (its answer as
    // received); empty until a check succeeds.
    QString externalIp;
    // The status text of the last finished check.
    const QString& externalStatus() const { return externalStatus_; }

    CPointBase& pointBase() { return pointBase_; }
    CDayJournal& journal() { return journal_; }
    CEventPipeline& pipeline() { return pipeline_; }
    CGprsLink& link() { return *link_; }
    CPointListModel& points() { return points_; }
    CAlarmListModel& alarms() { return alarms_; }
    CEventListModel& events() { return events_; }
    QTimer& minuteTimer() { return minuteTimer_; }
    CExternalIpCheck& ipCheck() { return ipCheck_; }
    QTimer& modemTimer() { return modemTimer_; }
    CModemLink& modem() { return modem_; }
    // Sends the address SMS to controllers through the modem; a message
    // asked for while no modem serves is refused.
    CSmsSender* smsSender() { return &modem_; }

signals:
    // Something the operator must read: a damaged register, a journal that
    // cannot be written event by event.
    void warning(const QString& text);
    // The port could not be listened on; the text names the port and the
    // system's reason. Nothing is received until the port is changed.
    void listenFailed(const QString& text);
    // A controller connection failed with an error and was closed.
    void receiveError();
    // About the GSM modem: none was found, or it must be restarted.
    void modemMessage(const QString& text);
    // The modem's port failed; the text is the system's.
    void modemError(const QString& text);
    // A public address check ended; `status` is the text for the window.
    void externalAddressChecked(const QString& status);

private:
    void AddressChecked(bool answered, const QString& address, std::uint32_t port, bool portOpen);

    const CClock& clock_;
    CPointBase pointBase_;
    CDayJournal journal_;
    CPointListModel points_;
    CAlarmListModel alarms_;
    CEventListModel events_;
    CEventPipeline pipeline_;
    std::unique_ptr<CGprsLink> link_;
    QTimer minuteTimer_;
    CExternalIpCheck ipCheck_;
    QString externalStatus_;
    CModemLink modem_;
    QTimer modemTimer_;
    bool shutDown_ = false;
};
