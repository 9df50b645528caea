#include "server/ui/dialog_units.h"

#include <QFontMetrics>
#include <QVariant>
#include <QWidget>

#include <cmath>

QRect DialogRect(const QWidget* widget, int x, int y, int width, int height)
{
    const QFontMetrics metrics(widget->font());
    const double unitX = metrics.averageCharWidth() / 4.0;
    const double unitY = metrics.height() / 8.0;
    auto px = [](double v) { return static_cast<int>(std::lround(v)); };
    return QRect(px(x * unitX), px(y * unitY), px(width * unitX), px(height * unitY));
}

void PlaceControl(QWidget* control, int id, int x, int y, int width, int height)
{
    control->setProperty("controlId", id);
    control->setGeometry(DialogRect(control->parentWidget() ? control->parentWidget() : control, x, y, width, height));
}
