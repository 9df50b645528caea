#include "tool/ui/dialog_units.h"

#include <QFontMetricsF>
#include <QVariant>
#include <QWidget>

#include <cmath>

QRect DialogUnitsToPixels(const QWidget* dialog, const QRect& units)
{
    const QFontMetricsF metrics(dialog->font());
    const double unitX = metrics.averageCharWidth() / 4.0;
    const double unitY = metrics.height() / 8.0;
    auto px = [](double v) { return static_cast<int>(std::lround(v)); };
    return QRect(px(units.x() * unitX), px(units.y() * unitY), px(units.width() * unitX), px(units.height() * unitY));
}

void PlaceControl(QWidget* control, int id, const char* name, const QRect& units)
{
    control->setProperty("controlId", id);
    control->setObjectName(QLatin1StringView(name));
    const QWidget* dialog = control->window();
    control->setGeometry(DialogUnitsToPixels(dialog, units));
}
