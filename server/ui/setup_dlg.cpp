#include "server/ui/setup_dlg.h"

#include "common/dialog_units.h"
#include "common/settings_store.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>

namespace {

const QString kNumberMessage = QStringLiteral("Введите положительное целое число.");
const QString kPortRangeMessage = QStringLiteral("Номер порта должен быть от 1 до 65535.");
constexpr qulonglong kMaxPort = 65535;

CSettingsStore Store() { return CSettingsStore(QString::fromUtf16(Settings::kServerProgram)); }

} // namespace

CSetupDlg::CSetupDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("setupDlg"));
    setWindowTitle(QStringLiteral("Установки"));

    auto* portLabel = new QLabel(QStringLiteral("IP порт"), this);
    PlaceControl(portLabel, -1, 58, 12, 26, 8);
    portEdit_ = new QLineEdit(this);
    portEdit_->setObjectName(QStringLiteral("portEdit"));
    // Digits only, at most the ten of an unsigned 32-bit number.
    portEdit_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,10}")), portEdit_));
    PlaceControl(portEdit_, 1007, 94, 7, 47, 14);

    auto* folderLabel = new QLabel(QStringLiteral("Каталог базы данных:"), this);
    PlaceControl(folderLabel, -1, 7, 28, 78, 8);
    auto* folderBox = new QWidget(this);
    PlaceControl(folderBox, 1014, 7, 42, 134, 14);
    folderEdit_ = new QLineEdit(folderBox);
    folderEdit_->setObjectName(QStringLiteral("folderEdit"));
    folderEdit_->setProperty("controlId", 1014);
    auto* browse = new QToolButton(folderBox);
    browse->setObjectName(QStringLiteral("browseButton"));
    browse->setText(QStringLiteral("..."));
    connect(browse, &QToolButton::clicked, this, &CSetupDlg::BrowseFolder);
    auto* row = new QHBoxLayout(folderBox);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(folderEdit_, 1);
    row->addWidget(browse);

    auto* ok = new QPushButton(QStringLiteral("ОК"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    PlaceControl(ok, 1, 7, 63, 50, 14);
    connect(ok, &QPushButton::clicked, this, &CSetupDlg::accept);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    PlaceControl(cancel, 2, 91, 63, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &CSetupDlg::reject);

    const QRect area = DialogRect(this, 0, 0, 148, 84);
    setFixedSize(area.size());

    const CSettingsStore store = Store();
    port = store.GetUInt(QString::fromUtf16(Settings::kIpSection),
                         QString::fromUtf16(Settings::kIpPort), Settings::kDefaultIpPort);
    folder = store.GetString(QString::fromUtf16(Settings::kSettingSection),
                             QString::fromUtf16(Settings::kBaseFolder), QString());
    portEdit_->setText(QString::number(port));
    folderEdit_->setText(folder);
}

void CSetupDlg::BrowseFolder()
{
    const QString chosen = QFileDialog::getExistingDirectory(this, QString(), folderEdit_->text());
    if (!chosen.isEmpty())
        folderEdit_->setText(QDir::toNativeSeparators(chosen));
}

void CSetupDlg::accept()
{
    bool ok = false;
    const qulonglong value = portEdit_->text().toULongLong(&ok);
    // A port the server cannot listen on is not stored: the server would
    // then receive nothing.
    if (!ok || value == 0 || value > kMaxPort) {
        QMessageBox::warning(this, windowTitle(), ok ? kPortRangeMessage : kNumberMessage);
        portEdit_->setFocus();
        return;
    }
    port = static_cast<std::uint32_t>(value);
    folder = folderEdit_->text();
    CSettingsStore store = Store();
    store.WriteString(QString::fromUtf16(Settings::kIpSection), QString::fromUtf16(Settings::kIpPort),
                      QString::number(port));
    store.WriteString(QString::fromUtf16(Settings::kSettingSection), QString::fromUtf16(Settings::kBaseFolder),
                      folder);
    QDialog::accept();
}
