#include "tool/ui/image_button.h"

namespace {

constexpr QSize kPictureSize{24, 24};

} // namespace

CImageButton::CImageButton(const QString& text, const QString& picture, const QString& hotPicture, QWidget* parent)
    : QPushButton(text, parent), normal_(picture), hot_(hotPicture)
{
    setIcon(normal_);
    setIconSize(kPictureSize);
    setCursor(Qt::PointingHandCursor);
}

void CImageButton::enterEvent(QEnterEvent* event)
{
    setIcon(hot_);
    QPushButton::enterEvent(event);
}

void CImageButton::leaveEvent(QEvent* event)
{
    setIcon(normal_);
    QPushButton::leaveEvent(event);
}
