// The threshold slider: live marker, colours of its painted parts, hot tracking.
#include "tool/ui/pro_slider_ctrl.h"

#include <QImage>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr QRgb kBackground = 0xFF333333;   // (51, 51, 51)
constexpr QRgb kLevel = 0xFF6666CC;        // (102, 102, 204)
constexpr QRgb kLevelCentre = 0xFFA2A2FE;  // (162, 162, 254), the level bar's innermost ring
constexpr QRgb kNormalThumb = 0xFF00CC00;
constexpr QRgb kHotThumb = 0xFFFF6600;
constexpr QRgb kPressedThumb = 0xFF9966CC;

// A tilt slider as the main window sets it up.
void MakeTiltSlider(CProSliderCtrl& slider)
{
    slider.resize(28, 300);
    slider.setRange(996, 2296);
    slider.SetRangeCopy(996, 2296);
}

QImage Render(CProSliderCtrl& slider)
{
    return slider.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool RowHas(const QImage& image, int y, QRgb colour)
{
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, y) == colour)
            return true;
    }
    return false;
}

// Rows holding the level bar's outline colour.
int LevelRows(const QImage& image)
{
    int rows = 0;
    for (int y = 0; y < image.height(); ++y)
        rows += RowHas(image, y, kLevel);
    return rows;
}

QRect Area(const QImage& image, QRgb colour)
{
    QRect area;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == colour)
                area |= QRect(x, y, 1, 1);
        }
    }
    return area;
}

TEST(ProSlider, SetCurrentValueClampsIntoTheRangeAndReturnsThePreviousMarker)
{
    CProSliderCtrl slider;
    MakeTiltSlider(slider);
    const struct { int value; int stored; } cases[] = {{1500, 1500}, {5000, 2296}, {-7, 996}, {996, 996}, {2296, 2296}};
    int previous = slider.CurrentValue();
    for (const auto& c : cases) {
        EXPECT_EQ(slider.SetCurrentValue(c.value), previous) << c.value;
        EXPECT_EQ(slider.CurrentValue(), c.stored) << c.value;
        previous = c.stored;
    }
}

TEST(ProSlider, LighteningOfPanelsAndRings)
{
    const struct { QColor from; int step; QColor to; } panels[] = {
        {QColor(51, 51, 51), 5, QColor(56, 56, 56)},
        {QColor(102, 102, 204), 20, QColor(122, 122, 224)},
        {QColor(240, 250, 255), 20, QColor(255, 255, 255)},
    };
    for (const auto& c : panels)
        EXPECT_EQ(CProSliderCtrl::PanelColour(c.from, c.step), c.to) << c.from.name().toStdString();

    // A component of 245 becomes 255 and then stays; one of 250 stays 250.
    const QColor rings[] = {QColor(122, 245, 250), QColor(132, 255, 250), QColor(142, 255, 250)};
    for (int n = 0; n + 1 < 3; ++n)
        EXPECT_EQ(CProSliderCtrl::RingColour(rings[n]), rings[n + 1]) << n;
    QColor level(122, 122, 224);
    for (const QColor next : {QColor(132, 132, 234), QColor(142, 142, 244), QColor(152, 152, 254),
                              QColor(162, 162, 254), QColor(172, 172, 254)}) {
        level = CProSliderCtrl::RingColour(level);
        EXPECT_EQ(level, next);
    }
}

TEST(ProSlider, PaintsBackgroundLevelBarAndThumb)
{
    CProSliderCtrl slider;
    MakeTiltSlider(slider);
    slider.setValue(996);
    slider.SetCurrentValue(1646);   // half-way: a half-full bar

    const QImage half = Render(slider);
    const int middle = half.height() / 2;
    // The background panel from its edge inwards: 51, then 56 (first step 5), then +10 a ring.
    for (const auto& [x, grey] : {std::pair{0, 51}, {1, 56}, {2, 66}, {3, 76}})
        EXPECT_EQ(half.pixel(x, middle), qRgb(grey, grey, grey)) << x;
    EXPECT_NEAR(Area(half, kLevel).top(), middle, 4);
    EXPECT_TRUE(RowHas(half, half.height() - 30, kLevelCentre));

    slider.SetCurrentValue(996);   // at the minimum: full bar
    const QImage full = Render(slider);
    EXPECT_TRUE(RowHas(full, 40, kLevelCentre));
    EXPECT_GT(LevelRows(full), half.height() * 3 / 4);

    slider.SetCurrentValue(2296);   // at the maximum: empty bar
    EXPECT_EQ(LevelRows(Render(slider)), 0);
    slider.SetRangeCopy(-100, 0);   // an upper bound of 0: always the whole channel
    EXPECT_EQ(LevelRows(Render(slider)), LevelRows(full));

    // The thumb: rings of the normal colour, lighter inwards, at the top for position 996.
    const QRect thumb = Area(full, kNormalThumb);
    ASSERT_FALSE(thumb.isEmpty());
    EXPECT_LT(thumb.top(), 30);
    EXPECT_TRUE(thumb.contains(Area(full, qRgb(10, 214, 10))));
    EXPECT_FALSE(RowHas(full, thumb.center().y(), kHotThumb));
}

TEST(ProSlider, ThumbColourFollowsTheMouse)
{
    CProSliderCtrl slider;
    MakeTiltSlider(slider);
    slider.setValue(1646);
    slider.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&slider));
    const QPoint onThumb = Area(Render(slider), kNormalThumb).center();
    const QPoint away(onThumb.x(), 5);

    QTest::mouseMove(&slider, onThumb);
    EXPECT_EQ(slider.ThumbColour(), QColor(kHotThumb));
    EXPECT_FALSE(Area(Render(slider), kHotThumb).isEmpty());
    QTest::mouseMove(&slider, away);
    EXPECT_EQ(slider.ThumbColour(), QColor(kNormalThumb));

    // Pressed while dragged, and until the mouse moves again.
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, onThumb);
    ASSERT_TRUE(slider.isSliderDown());
    EXPECT_FALSE(Area(Render(slider), kPressedThumb).isEmpty());
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, onThumb);
    EXPECT_EQ(slider.ThumbColour(), QColor(kPressedThumb));
    QTest::mouseMove(&slider, away + QPoint(0, 1));
    EXPECT_EQ(slider.ThumbColour(), QColor(kNormalThumb));
}

} // namespace
