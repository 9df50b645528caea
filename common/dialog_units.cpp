#include "common/dialog_units.h"

#include <QFontMetrics>
#include <QVariant>
#include <QWidget>

#include <cmath>

namespace {

constexpr double kUnitsPerCharWidth = 4.0;
constexpr double kUnitsPerLineHeight = 8.0;

} // namespace

QRect DialogRect(const QWidget* widget, int x, int y, int width, int height)
{
    const QFontMetrics metrics(widget->font());
    const double unitX = metrics.averageCharWidth() / kUnitsPerCharWidth;
    const double unitY = metrics.height() / kUnitsPerLineHeight;
    auto px = [](double v) { return static_cast<int>(std::lround(v)); };
    return QRect(px(x * unitX), px(y * unitY), px(width * unitX), px(height * unitY));
}

QRect DialogRect(const QWidget* widget, const QRect& units)
{
    return DialogRect(widget, units.x(), units.y(), units.width(), units.height());
}

void PlaceControl(QWidget* control, int id, int x, int y, int width, int height)
{
    control->setProperty("controlId", id);
    // The window's font, not the control's own (a bold field keeps its place).
    control->setGeometry(DialogRect(control->window(), x, y, width, height));
}

void PlaceControl(QWidget* control, int id, const char* name, const QRect& units)
{
    control->setObjectName(QLatin1StringView(name));
    PlaceControl(control, id, units.x(), units.y(), units.width(), units.height());
}
