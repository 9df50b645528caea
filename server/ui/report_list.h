#pragma once

#include <QIcon>
#include <QRect>
#include <QString>

#include <initializer_list>
#include <vector>

class QPushButton;
class QTableView;
class QWidget;

// The look shared by the server's windows and dialogs.

// The pictures of the event lists' image list, by icon position.
std::vector<QIcon> EventImageList();

// A list in report style: a table view without grid or row header, whole
// rows selected one at a time, not editable.
QTableView* MakeReportList(QWidget* parent, const QString& name, int id, QRect rect);

// Column widths as shares (percent) of the list's client width inside its
// frame less 16 pixels, fixed when the columns are made.
void SetColumnShares(QTableView* view, std::initializer_list<int> percents);

// A push button with a picture that darkens under the mouse and the hand
// cursor, placed by its template rectangle (dialog units).
QPushButton* MakePictureButton(QWidget* parent, const QString& text, const QString& name, int id,
                               const QString& picture, const QString& hotPicture, QRect units);
