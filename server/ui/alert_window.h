#pragma once

#include <QPoint>
#include <QWidget>

class QLabel;

// The desktop alert: a frameless, always-on-top, slightly translucent
// window that slides in at its place and stays until the user closes it.
// It can be dragged by its caption; closing it reports where it was.
class CAlertWindow final : public QWidget
{
    Q_OBJECT

public:
    // position (-1, -1): the lower right corner of the screen's work area.
    CAlertWindow(const QPoint& position, const QString& caption, const QString& text, QWidget* owner);

    // Where the window stands once it has slid in.
    QPoint TargetPosition() const { return target_; }

signals:
    void closedAt(QPoint lastPosition);

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QPoint target_;
    QPoint dragOffset_;
    bool dragging_ = false;
};
