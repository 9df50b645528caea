#pragma once

#include <QPoint>
#include <QString>

// Opens the desktop alert window. When the user closes it, its owner calls
// CEventPipeline::AlertClosed with the window's last position.
class CAlertPresenter
{
public:
    virtual ~CAlertPresenter() = default;
    // position (-1, -1) means the default place, the lower right corner.
    virtual void Show(const QPoint& position, const QString& caption, const QString& text) = 0;
};
