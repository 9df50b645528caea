#pragma once

#include <QRect>

class QWidget;

// A rectangle of the window's template, in dialog units, converted to pixels
// for the window's font: a horizontal unit is a quarter of the average
// character width, a vertical unit an eighth of the line height.
QRect DialogUnitsToPixels(const QWidget* dialog, const QRect& units);

// Places a control of the dialog at its template rectangle, with its
// template id as property "controlId" (-1 for captions and group boxes) and
// its object name.
void PlaceControl(QWidget* control, int id, const char* name, const QRect& units);
