#pragma once

#include "server/core/server_core.h"
#include "server/ui/sound_output.h"

#include <QDialog>
#include <QPointer>

#include <memory>

class CClock;
class CDesktopAlert;
class QLabel;
class QMessageBox;
class QPushButton;
class QTableView;

// "Сервер мониторинга": the server's one window. It shows the lists of the
// server core it owns and carries the operator's commands to it; closing it
// stops the server.
class CVarkonDlg final : public QDialog
{
    Q_OBJECT

public:
    // Builds the controls, then runs the core's start-up.
    explicit CVarkonDlg(const CClock& clock, CSoundPlayer* sound = nullptr, QWidget* parent = nullptr);
    ~CVarkonDlg() override;

    // Closing the window, however it is asked for, stops the server first;
    // any dialog still open on top of it is closed, so the stop always
    // finishes.
    void done(int result) override;

    // "Установки": the settings dialog, then listening on the port again.
    void OpenSettings();
    // "Журнал": today's journal is saved, then the journal browser shows it.
    void OpenJournal();
    // Activating a row of the point list: the point information dialog.
    void OpenPoint(const QModelIndex& row);

    CServerCore& core() { return *core_; }
    CDesktopAlert& desktopAlert() { return *alert_; }

protected:
    // Enter on a point row opens the point, and only that.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void ShowEventMenu(const QPoint& at);
    void ShowMessage(const QString& text);
    void ShowListenFailure(const QString& text);
    void ShowReceiveError();
    void ShowModemMessage(const QString& text);
    void ShowModemError(const QString& text);
    void CloseDialogsOnTop();

    CSoundOutput ownSound_;
    CDesktopAlert* alert_;
    std::unique_ptr<CServerCore> core_;
    QTableView* pointList_ = nullptr;
    QTableView* alarmList_ = nullptr;
    QTableView* eventList_ = nullptr;
    QLabel* statusText_ = nullptr;
    QPointer<QMessageBox> errorBox_;
    QPointer<QMessageBox> listenBox_;
    QPointer<QMessageBox> modemErrorBox_;
};
