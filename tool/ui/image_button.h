#pragma once

#include <QIcon>
#include <QPushButton>

// A push button with a picture left of its caption that turns to its
// highlighted variant while the mouse is over the button.
class CImageButton : public QPushButton
{
    Q_OBJECT

public:
    static constexpr QSize kPictureSize{24, 24};

    CImageButton(const QString& text, const QString& picture, const QString& hotPicture, QWidget* parent = nullptr,
                 QSize pictureSize = kPictureSize);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QIcon normal_;
    QIcon hot_;
};
