#include "tool/ui/about_dlg.h"

#include "common/dialog_units.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace {

constexpr int kDialogFontPoints = 8;
constexpr int kWidthUnits = 170;
constexpr int kHeightUnits = 62;
constexpr int kIconPixels = 32;

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("about"));
    setWindowTitle(QStringLiteral("О проекте Tesmark"));
    QFont dialogFont = font();
    dialogFont.setPointSize(kDialogFontPoints);
    setFont(dialogFont);
    resize(DialogRect(this, 0, 0, kWidthUnits, kHeightUnits).size());

    auto* icon = new QLabel(this);
    PlaceControl(icon, -1, "icon", QRect(7, 7, 21, 20));
    icon->setPixmap(QIcon(QStringLiteral(":/tool/app_icon.svg")).pixmap(kIconPixels, kIconPixels));
    auto* name = new QLabel(QStringLiteral("Tesmark, версия %1").arg(QStringLiteral(TESMARK_VERSION)), this);
    PlaceControl(name, -1, "name", QRect(36, 8, 127, 9));
    auto* purpose = new QLabel(QStringLiteral("Настройка контроллеров охранной сигнализации"), this);
    PlaceControl(purpose, -1, "purpose", QRect(36, 20, 127, 18));
    purpose->setWordWrap(true);

    auto* ok = new QPushButton(QStringLiteral("ОК"), this);
    PlaceControl(ok, 1, "ok", QRect(kWidthUnits - 61, kHeightUnits - 21, 54, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
