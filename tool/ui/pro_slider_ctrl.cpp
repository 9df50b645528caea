#include "tool/ui/pro_slider_ctrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionSlider>
#include <qdrawutil.h>

#include <algorithm>

namespace {

constexpr int kBackgroundFirstStep = 5;
constexpr int kLevelFirstStep = 20;
constexpr int kRingStep = 10;
constexpr int kRingLightestComponent = 245;   // components above it stay as they are
constexpr double kCornerRadius = 1.0;         // corner ellipses of 2 by 2 pixels
constexpr int kChannelWidth = 4;
constexpr int kChannelWidening = 5;           // on each side, before the sunken edge
constexpr int kSunkenEdgeWidth = 2;
constexpr int kHotMarginAcross = 2;           // the hot area: thumb widened by 2 ...
constexpr int kHotMarginAlong = 2;            // ... and narrowed by 2 at top and bottom

int Lighter(int component, int step)
{
    return std::min(component + step, 255);
}

void DrawShape(QPainter& painter, QColor colour, const QRect& r)
{
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(r), kCornerRadius, kCornerRadius);
}

} // namespace

CProSliderCtrl::CProSliderCtrl(QWidget* parent) : QSlider(Qt::Vertical, parent)
{
    // Minimum at the top, and the arrow keys move the thumb the way they point.
    setInvertedAppearance(true);
    setInvertedControls(true);
    setTickPosition(QSlider::NoTicks);
    setMouseTracking(true);
}

int CProSliderCtrl::SetCurrentValue(int value)
{
    const int previous = marker_;
    marker_ = std::clamp(value, minimum(), std::max(minimum(), maximum()));
    update();
    return previous;
}

void CProSliderCtrl::SetRangeCopy(int lower, int upper)
{
    rangeLower_ = lower;
    rangeUpper_ = upper;
    update();
}

QColor CProSliderCtrl::PanelColour(QColor colour, int step)
{
    return QColor(Lighter(colour.red(), step), Lighter(colour.green(), step), Lighter(colour.blue(), step));
}

QColor CProSliderCtrl::RingColour(QColor colour)
{
    auto next = [](int c) { return c <= kRingLightestComponent ? Lighter(c, kRingStep) : c; };
    return QColor(next(colour.red()), next(colour.green()), next(colour.blue()));
}

QSize CProSliderCtrl::sizeHint() const
{
    return QSize(30, 200);
}

QRect CProSliderCtrl::ThumbRect() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

QRect CProSliderCtrl::ChannelRect() const
{
    // The path of the thumb's centre, as narrow as a trackbar's channel.
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect thumb = ThumbRect();
    const int length = thumb.height();
    return QRect(thumb.center().x() - kChannelWidth / 2 + 1, groove.top() + length / 2, kChannelWidth,
                 std::max(0, groove.height() - length));
}

void CProSliderCtrl::DrawPanel(QPainter& painter, QColor colour, int firstStep, QRect r) const
{
    DrawShape(painter, colour, r);
    r.adjust(1, 1, -1, -1);
    colour = PanelColour(colour, firstStep);
    if (!r.isEmpty())
        DrawRings(painter, colour, r, false);
}

void CProSliderCtrl::DrawRings(QPainter& painter, QColor colour, QRect r, bool firstOnAllSides) const
{
    bool allSides = firstOnAllSides;
    while (!r.isEmpty()) {
        DrawShape(painter, colour, r);
        r.adjust(1, allSides ? 1 : 0, -1, allSides ? -1 : 0);
        allSides = false;
        colour = RingColour(colour);
    }
}

void CProSliderCtrl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    if (isSliderDown())
        thumbColour_ = pressedThumb_;

    DrawPanel(painter, background_, kBackgroundFirstStep, rect());

    QRect channel = ChannelRect().adjusted(-kChannelWidening, 0, kChannelWidening, 0);
    qDrawWinPanel(&painter, channel, palette(), true);
    painter.setPen(Qt::NoPen);
    channel.adjust(kSunkenEdgeWidth - 1, kSunkenEdgeWidth, -(kSunkenEdgeWidth - 1), -kSunkenEdgeWidth);
    // The bar rises from the bottom by how far the marker lies from the
    // maximum; a scale without extent (upper bound 0, or no span) gives a
    // full bar.
    if (rangeUpper_ != 0 && rangeUpper_ > rangeLower_) {
        const int bottom = channel.y() + channel.height();
        const double share = static_cast<double>(rangeUpper_ - marker_) / (rangeUpper_ - rangeLower_);
        const int top = bottom - static_cast<int>(share * channel.height());
        channel = QRect(channel.x(), top, channel.width(), bottom - top);
    }
    if (!channel.isEmpty())
        DrawPanel(painter, level_, kLevelFirstStep, channel);

    DrawRings(painter, thumbColour_, ThumbRect(), true);
}

void CProSliderCtrl::mouseMoveEvent(QMouseEvent* event)
{
    const QRect hot = ThumbRect().adjusted(-kHotMarginAcross, kHotMarginAlong, kHotMarginAcross, -kHotMarginAlong);
    thumbColour_ = hot.contains(event->position().toPoint()) ? hotThumb_ : normalThumb_;
    update();
    QSlider::mouseMoveEvent(event);
}
