#include "server/ui/varkon_dlg.h"

#include "common/dialog_units.h"
#include "server/link/gprs_link.h"
#include "server/model/event_codes.h"
#include "server/ui/alert_window.h"
#include "server/ui/desktop_alert.h"
#include "server/ui/history_dlg.h"
#include "server/ui/report_list.h"
#include "server/ui/setup_dlg.h"
#include "server/ui/signal_info_dlg.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>

#include <array>

namespace {

constexpr int kJournalCommand = 32772;

} // namespace

CVarkonDlg::CVarkonDlg(const CClock& clock, CSoundPlayer* sound, QWidget* parent)
    : QDialog(parent),
      alert_(new CDesktopAlert(this)),
      core_(std::make_unique<CServerCore>(clock, sound ? *sound : ownSound_, *alert_))
{
    connect(alert_, &CDesktopAlert::closed, this, [this](QPoint at) { core_->pipeline().AlertClosed(at); });
    connect(core_.get(), &CServerCore::receiveError, this, &CVarkonDlg::ShowReceiveError);
    connect(core_.get(), &CServerCore::warning, this, &CVarkonDlg::ShowMessage);
    connect(core_.get(), &CServerCore::listenFailed, this, &CVarkonDlg::ShowListenFailure);
    connect(core_.get(), &CServerCore::modemMessage, this, &CVarkonDlg::ShowModemMessage);
    connect(core_.get(), &CServerCore::modemError, this, &CVarkonDlg::ShowModemError);
    CreateControls();
    connect(core_.get(), &CServerCore::externalAddressChecked, statusText_, &QLabel::setText);
    core_->StartUp();
}

CVarkonDlg::~CVarkonDlg() { core_.reset(); }

void CVarkonDlg::CreateControls()
{
    setObjectName(QStringLiteral("varkonDlg"));
    setWindowTitle(QStringLiteral("Сервер мониторинга"));
    setWindowIcon(QIcon(QStringLiteral(":/server/app_icon.svg")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(DialogRect(this, 0, 0, 577, 361).size());

    // Table views, because a tree view re-lays out every row it holds
    // whenever rows are inserted, which costs milliseconds per announcement
    // once the event list holds a day's 200,000 rows.
    pointList_ = MakeReportList(this, QStringLiteral("pointList"), 1002, DialogRect(this, 7, 7, 279, 151));
    alarmList_ = MakeReportList(this, QStringLiteral("alarmList"), 1004, DialogRect(this, 294, 33, 276, 124));
    eventList_ = MakeReportList(this, QStringLiteral("eventList"), 1005, DialogRect(this, 7, 167, 563, 187));
    statusText_ = new QLabel(this);
    statusText_->setObjectName(QStringLiteral("statusText"));
    statusText_->setTextFormat(Qt::PlainText);
    statusText_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    PlaceControl(statusText_, 1003, 293, 7, 147, 23);

    auto* settings = MakePictureButton(this, QStringLiteral("Установки"), QStringLiteral("settingsButton"), 1006,
                                       QStringLiteral(":/server/buttons/settings.svg"),
                                       QStringLiteral(":/server/buttons/settings_hot.svg"), QRect(446, 7, 50, 14));
    settings->setDefault(true);
    connect(settings, &QPushButton::clicked, this, &CVarkonDlg::OpenSettings);
    auto* cancel = MakePictureButton(this, QStringLiteral("Отмена"), QStringLiteral("cancelButton"), 2,
                                     QStringLiteral(":/server/buttons/cancel.svg"),
                                     QStringLiteral(":/server/buttons/cancel_hot.svg"), QRect(514, 7, 50, 14));
    connect(cancel, &QPushButton::clicked, this, &CVarkonDlg::reject);

    const auto icons = EventImageList();
    core_->points().SetIcons(icons);
    core_->events().SetIcons(icons);
    pointList_->setModel(&core_->points());
    alarmList_->setModel(&core_->alarms());
    eventList_->setModel(&core_->events());
    SetColumnShares(pointList_, {32, 68});
    SetColumnShares(alarmList_, {30, 50, 20});
    SetColumnShares(eventList_, {15, 65, 10, 10});

    // The layout is measured in the standard font; the window writes in a
    // slightly smaller one, as its template asks (8 points), so that the
    // columns and buttons hold their texts.
    QFont font = this->font();
    font.setPointSizeF(8);
    setFont(font);

    eventList_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(eventList_, &QWidget::customContextMenuRequested, this, &CVarkonDlg::ShowEventMenu);
    connect(pointList_, &QAbstractItemView::doubleClicked, this, &CVarkonDlg::OpenPoint);
    pointList_->installEventFilter(this);
}

bool CVarkonDlg::eventFilter(QObject* watched, QEvent* event)
{
    // The list would pass Enter on to the window, whose default button
    // ("Установки") would then open as well.
    if (watched == pointList_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && pointList_->currentIndex().isValid()) {
            OpenPoint(pointList_->currentIndex());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CVarkonDlg::OpenPoint(const QModelIndex& row)
{
    CPointListModel& points = core_->points();
    if (core_->IsShutDown() || !row.isValid() || row.model() != &points || row.row() >= points.rowCount())
        return;
    const QPersistentModelIndex kept = row.siblingAtColumn(0);
    CPointBase& base = core_->pointBase();
    CSignalInfoDlg dialog(kept.data(Qt::UserRole).toUInt(), base, core_->externalIp, core_->ServerPort(),
                          core_->smsSender(), this);
    const int result = dialog.exec();
    if (core_->IsShutDown())
        return;
    if (result == QDialog::Accepted) {
        // Rows above it may have come meanwhile: the kept index follows its row.
        const int index = base.FindPoint(dialog.serial);
        if (kept.isValid() && index >= 0)
            points.SetName(kept, base.names()[static_cast<std::size_t>(index)]);
    } else if (dialog.serial == 0) {
        core_->pipeline().RefreshLists();
    }
}

void CVarkonDlg::OpenSettings()
{
    CSetupDlg dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    core_->SettingsChanged();
}

void CVarkonDlg::OpenJournal()
{
    if (core_->IsShutDown())
        return;
    core_->SaveJournal();
    CHistoryDlg dialog(core_->pointBase().Clock(), this);
    dialog.exec();
}

void CVarkonDlg::ShowEventMenu(const QPoint& at)
{
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("eventMenu"));
    QAction* journal = menu.addAction(QIcon(QStringLiteral(":/server/icons/info.svg")), QStringLiteral("Журнал"));
    journal->setData(kJournalCommand);
    connect(journal, &QAction::triggered, this, &CVarkonDlg::OpenJournal);
    menu.exec(eventList_->viewport()->mapToGlobal(at));
}

void CVarkonDlg::ShowMessage(const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("messageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void CVarkonDlg::ShowReceiveError()
{
    // One box at a time, and never modal: the other connections keep
    // being served while it is open.
    if (errorBox_)
        return;
    errorBox_ = new QMessageBox(QMessageBox::Warning, windowTitle(), QStringLiteral("Error occurred"),
                                QMessageBox::Ok, this);
    errorBox_->setObjectName(QStringLiteral("receiveErrorBox"));
    errorBox_->setAttribute(Qt::WA_DeleteOnClose);
    errorBox_->open();
}

void CVarkonDlg::ShowListenFailure(const QString& text)
{
    // Stays on screen until the operator closes it; a later failure replaces
    // its text rather than stacking boxes.
    if (!listenBox_) {
        listenBox_ = new QMessageBox(QMessageBox::Critical, windowTitle(), text, QMessageBox::Ok, this);
        listenBox_->setObjectName(QStringLiteral("listenErrorBox"));
        listenBox_->setAttribute(Qt::WA_DeleteOnClose);
    }
    listenBox_->setText(text);
    listenBox_->open();
}

// The modem's boxes come from its own thread's work, at any moment: they do
// not block the window, nor take the place of a dialog the operator has open.
void CVarkonDlg::ShowModemMessage(const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("modemMessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void CVarkonDlg::ShowModemError(const QString& text)
{
    // A port that keeps failing fails on every tick: one box, with the latest text.
    if (!modemErrorBox_) {
        modemErrorBox_ = new QMessageBox(QMessageBox::Critical, windowTitle(), text, QMessageBox::Ok, this);
        modemErrorBox_->setObjectName(QStringLiteral("modemErrorBox"));
        modemErrorBox_->setAttribute(Qt::WA_DeleteOnClose);
        modemErrorBox_->setWindowModality(Qt::NonModal);
    }
    modemErrorBox_->setText(text);
    modemErrorBox_->show();
}

void CVarkonDlg::CloseDialogsOnTop()
{
    // A modal dialog runs an event loop of its own inside the window's; the
    // window's loop can only end once those have returned. Their callers see
    // a rejected dialog and, with the server stopped, do nothing more.
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    for (int guard = 0; guard < 64; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == this)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
}

void CVarkonDlg::done(int result)
{
    core_->Shutdown();
    CloseDialogsOnTop();
    QDialog::done(result);
}
