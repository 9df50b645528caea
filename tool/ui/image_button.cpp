#include "tool/ui/image_button.h"

CImageButton::CImageButton(const QString& text, const QString& picture, const QString& hotPicture, QWidget* parent,
                           QSize pictureSize)
    : QPushButton(text, parent), normal_(picture), hot_(hotPicture)
{
    setIcon(normal_);
    setIconSize(pictureSize);
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
