#include "tool/ui/password_dlg.h"

#include "common/dialog_units.h"
#include "common/settings_store.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <limits>

namespace {

constexpr int kIdCode = 1065;
constexpr int kDialogFontPoints = 8;
constexpr int kWidthUnits = 252;
constexpr int kHeightUnits = 28;

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

CPasswordDlg::CPasswordDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("password"));
    setWindowTitle(QStringLiteral("Введите пароль"));
    QFont dialogFont = font();
    dialogFont.setPointSize(kDialogFontPoints);
    setFont(dialogFont);
    resize(DialogRect(this, 0, 0, kWidthUnits, kHeightUnits).size());

    code_ = new QLineEdit(this);
    PlaceControl(code_, kIdCode, "code", QRect(7, 7, 124, 14));
    code_->setEchoMode(QLineEdit::Password);
    // The edit starts with the entered code, 0, as one bullet.
    code_->setText(QString::number(enteredCode_));

    auto* ok = new QPushButton(QStringLiteral("ОК"), this);
    PlaceControl(ok, 1, "ok", QRect(135, 7, 54, 14));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    PlaceControl(cancel, 2, "cancel", QRect(193, 7, 54, 14));
    connect(ok, &QPushButton::clicked, this, &CPasswordDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CPasswordDlg::reject);
}

bool CPasswordDlg::ReadUnsigned(const QString& text, std::uint32_t* value)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text.at(begin)))
        ++begin;
    while (end > begin && IsBlank(text.at(end - 1)))
        --end;
    if (begin == end)
        return false;
    std::uint64_t number = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const QChar c = text.at(i);
        if (c < u'0' || c > u'9')
            return false;
        number = number * 10 + (c.unicode() - u'0');
        if (number > std::numeric_limits<std::uint32_t>::max())
            return false;
    }
    *value = static_cast<std::uint32_t>(number);
    return true;
}

void CPasswordDlg::accept()
{
    if (!ReadUnsigned(code_->text(), &enteredCode_)) {
        QMessageBox::warning(this, QString::fromUtf16(Settings::kToolProgram),
                             QStringLiteral("Введите положительное целое число."));
        // A stop of the program may have closed the dialog under the message.
        if (!isVisible())
            return;
    }
    if (enteredCode_ == kAccessCode)
        QDialog::accept();
    else
        reject();
}
