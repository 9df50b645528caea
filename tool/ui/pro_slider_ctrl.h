#pragma once

#include <QColor>
#include <QSlider>

class QPainter;

// The threshold slider: a vertical slider, minimum at the top, that paints a
// dark rounded background, a sunken channel holding a level bar for the live
// marker (the value the controller measures now), and a ringed thumb whose
// colour follows the mouse. The thumb is the threshold the user sets.
class CProSliderCtrl : public QSlider
{
    Q_OBJECT

public:
    explicit CProSliderCtrl(QWidget* parent = nullptr);

    // Sets the live marker, clamped into the slider's range, repaints, and
    // returns the marker held before.
    int SetCurrentValue(int value);
    int CurrentValue() const { return marker_; }

    // The scale of the level bar; the owner keeps it equal to the range.
    void SetRangeCopy(int lower, int upper);

    QColor ThumbColour() const { return thumbColour_; }

    // The next colour of a panel after its outline: each component lighter
    // by step, 255 at most.
    static QColor PanelColour(QColor colour, int step);
    // The next colour of a ring: each component of at most 245 lighter by 10.
    static QColor RingColour(QColor colour);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QRect ThumbRect() const;
    QRect ChannelRect() const;
    void DrawPanel(QPainter& painter, QColor colour, int firstStep, QRect r) const;
    void DrawRings(QPainter& painter, QColor colour, QRect r, bool firstOnAllSides) const;

    QColor background_{51, 51, 51};
    QColor level_{102, 102, 204};
    int rangeLower_ = 0;
    int rangeUpper_ = 0;
    int marker_ = 0;
    QColor hotThumb_{255, 102, 0};
    QColor normalThumb_{0, 204, 0};
    QColor pressedThumb_{153, 102, 204};
    QColor thumbColour_ = normalThumb_;
};
