#pragma once

#include <QRect>

class QWidget;

// Converts a dialog template rectangle (dialog units) into pixels for the
// widget's font: a horizontal unit is a quarter of the average character
// width, a vertical unit an eighth of the line height.
QRect DialogRect(const QWidget* widget, int x, int y, int width, int height);

// Places a control by its template rectangle and gives it its template id.
void PlaceControl(QWidget* control, int id, int x, int y, int width, int height);
