// Dialog units: template rectangles measured in the window's font.
#include "common/dialog_units.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QVariant>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

QFont FontOf(int points, bool bold = false)
{
    QFont font = QWidget().font();
    font.setPointSize(points);
    font.setBold(bold);
    return font;
}

TEST(DialogUnits, ACharacterCellIsFourUnitsWideAndEightHigh)
{
    for (const int points : {8, 10, 16}) {
        SCOPED_TRACE(points);
        QWidget window;
        window.setFont(FontOf(points));
        const QFontMetrics metrics(window.font());
        const int cx = metrics.averageCharWidth();
        const int cy = metrics.height();
        EXPECT_EQ(DialogRect(&window, 0, 0, 4, 8), QRect(0, 0, cx, cy));
        EXPECT_EQ(DialogRect(&window, 8, 16, 40, 24), QRect(2 * cx, 2 * cy, 10 * cx, 3 * cy));
        EXPECT_EQ(DialogRect(&window, QRect(8, 16, 40, 24)), DialogRect(&window, 8, 16, 40, 24));
    }
    // A larger font makes larger units.
    QWidget small;
    small.setFont(FontOf(8));
    QWidget large;
    large.setFont(FontOf(16));
    EXPECT_LT(DialogRect(&small, 0, 0, 100, 100).width(), DialogRect(&large, 0, 0, 100, 100).width());
}

TEST(DialogUnits, ControlsArePlacedInTheWindowsFontWithTheirIdAndName)
{
    QWidget window;
    window.setFont(FontOf(8));
    const QRect expected = DialogRect(&window, 7, 4, 170, 28);

    // A control of its own bold font, and one inside a group box of another
    // font, still keep the places the window's font gives them.
    auto* status = new QLabel(&window);
    status->setFont(FontOf(20, true));
    PlaceControl(status, 1034, "status", QRect(7, 4, 170, 28));
    auto* group = new QGroupBox(&window);
    group->setFont(FontOf(16));
    auto* inner = new QLabel(group);
    PlaceControl(inner, -1, 7, 4, 170, 28);

    EXPECT_EQ(status->geometry(), expected);
    EXPECT_EQ(status->property("controlId").toInt(), 1034);
    EXPECT_EQ(status->objectName(), QStringLiteral("status"));
    EXPECT_EQ(inner->geometry(), expected);
    EXPECT_EQ(inner->property("controlId").toInt(), -1);
    EXPECT_TRUE(inner->objectName().isEmpty());
}

} // namespace
