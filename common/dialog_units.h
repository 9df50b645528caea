#pragma once

#include <QRect>

class QWidget;

// Dialog units, the measure of the windows' templates: a horizontal unit is
// a quarter of the average character width of the window's font, a vertical
// unit an eighth of its line height, both in whole pixels, and each
// coordinate is rounded to the nearest pixel.

// A template rectangle converted to pixels for the font of `widget`.
QRect DialogRect(const QWidget* widget, int x, int y, int width, int height);
QRect DialogRect(const QWidget* widget, const QRect& units);

// Places a control at its template rectangle, measured in the font of the
// window it belongs to, and gives it its template id as the property
// "controlId" (-1 for captions and group boxes).
void PlaceControl(QWidget* control, int id, int x, int y, int width, int height);
// The same, also giving the control its object name.
void PlaceControl(QWidget* control, int id, const char* name, const QRect& units);
