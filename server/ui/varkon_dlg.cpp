#include "server/ui/varkon_dlg.h"

#include "server/link/gprs_link.h"
#include "server/model/event_codes.h"
#include "server/ui/alert_window.h"
#include "server/ui/desktop_alert.h"
#include "server/ui/dialog_units.h"
#include "server/ui/setup_dlg.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>

#include <array>

namespace {

// The pictures of the lists' image list, by icon position.
constexpr std::array<const char16_t*, ICON_COUNT> kIconFiles = {
    u":/server/icons/check.svg",   u":/server/icons/cross.svg",    u":/server/icons/exclamation.svg",
    u":/server/icons/plus.svg",    u":/server/icons/info.svg",     u":/server/icons/question.svg",
    u":/server/icons/refresh.svg", u":/server/icons/minus.svg",    u":/server/icons/stop_hand.svg",
    u":/server/icons/warning.svg",
};

constexpr int kJournalCommand = 32772;

std::vector<QIcon> ImageList()
{
    std::vector<QIcon> icons;
    for (const char16_t* file : kIconFiles)
        icons.emplace_back(QString::fromUtf16(file));
    return icons;
}

QIcon ButtonIcon(const QString& normal, const QString& hot)
{
    QIcon icon(normal);
    icon.addFile(hot, QSize(), QIcon::Active);
    return icon;
}

// Column widths are shares of the list's client width (inside its frame)
// less 16 pixels, fixed when the columns are made.
void SetColumnShares(QTableView* view, std::initializer_list<int> percents)
{
    const int width = view->contentsRect().width() - 16;
    int column = 0;
    for (int percent : percents)
        view->setColumnWidth(column++, width * percent / 100);
}

// A list in report style. A table view, because a tree view re-lays out
// every row it holds whenever rows are inserted, which costs milliseconds
// per announcement once the event list holds a day's 200,000 rows; the
// table view's per-row bookkeeping is a plain array of row heights.
QTableView* MakeList(QWidget* parent, const char* name, int id, QRect rect)
{
    auto* view = new QTableView(parent);
    view->setObjectName(QString::fromLatin1(name));
    view->setProperty("controlId", id);
    view->setGeometry(rect);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setIconSize(QSize(16, 16));
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setStretchLastSection(false);
    return view;
}

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

    pointList_ = MakeList(this, "pointList", 1002, DialogRect(this, 7, 7, 279, 151));
    alarmList_ = MakeList(this, "alarmList", 1004, DialogRect(this, 294, 33, 276, 124));
    eventList_ = MakeList(this, "eventList", 1005, DialogRect(this, 7, 167, 563, 187));
    statusText_ = new QLabel(this);
    statusText_->setObjectName(QStringLiteral("statusText"));
    statusText_->setTextFormat(Qt::PlainText);
    statusText_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    PlaceControl(statusText_, 1003, 293, 7, 147, 23);

    auto* settings = new QPushButton(QStringLiteral("Установки"), this);
    settings->setObjectName(QStringLiteral("settingsButton"));
    settings->setIcon(ButtonIcon(QStringLiteral(":/server/buttons/settings.svg"),
                                 QStringLiteral(":/server/buttons/settings_hot.svg")));
    settings->setDefault(true);
    settings->setCursor(Qt::PointingHandCursor);
    PlaceControl(settings, 1006, 446, 7, 50, 14);
    connect(settings, &QPushButton::clicked, this, &CVarkonDlg::OpenSettings);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setIcon(ButtonIcon(QStringLiteral(":/server/buttons/cancel.svg"),
                               QStringLiteral(":/server/buttons/cancel_hot.svg")));
    cancel->setCursor(Qt::PointingHandCursor);
    PlaceControl(cancel, 2, 514, 7, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &CVarkonDlg::reject);

    const auto icons = ImageList();
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
}

void CVarkonDlg::OpenSettings()
{
    CSetupDlg dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    core_->SettingsChanged();
}

void CVarkonDlg::OpenJournal() { core_->SaveJournal(); }

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
