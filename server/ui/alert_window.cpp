#include "server/ui/alert_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr double kOpacity = 200.0 / 255.0;
constexpr int kSlideMs = 300; // the slide-in takes this long
constexpr QSize kSize(300, 110);
constexpr int kMargin = 8;

} // namespace

CAlertWindow::CAlertWindow(const QPoint& position, const QString& caption, const QString& text, QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("alertWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(caption);
    setWindowIcon(QIcon(QStringLiteral(":/server/app_icon.svg")));
    setWindowOpacity(kOpacity);
    setFixedSize(kSize);

    auto* title = new QLabel(caption, this);
    title->setObjectName(QStringLiteral("alertCaption"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    auto* close = new QToolButton(this);
    close->setObjectName(QStringLiteral("alertClose"));
    close->setText(QStringLiteral("✕"));
    close->setAutoRaise(true);
    connect(close, &QToolButton::clicked, this, &QWidget::close);
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/server/icons/exclamation.svg")).pixmap(32, 32));
    auto* body = new QLabel(text, this);
    body->setObjectName(QStringLiteral("alertText"));
    body->setWordWrap(true);

    auto* top = new QHBoxLayout;
    top->addWidget(title, 1);
    top->addWidget(close);
    auto* content = new QHBoxLayout;
    content->addWidget(icon, 0, Qt::AlignTop);
    content->addWidget(body, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, 4, 4, kMargin);
    layout->addLayout(top);
    layout->addLayout(content, 1);

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    target_ = position == QPoint(-1, -1)
        ? QPoint(area.right() - kSize.width() - kMargin, area.bottom() - kSize.height() - kMargin)
        : position;

    // Slide in from just below the place.
    move(target_ + QPoint(0, kSize.height() / 2));
    auto* slide = new QPropertyAnimation(this, "pos", this);
    slide->setDuration(kSlideMs);
    slide->setStartValue(pos());
    slide->setEndValue(target_);
    slide->start(QAbstractAnimation::DeleteWhenStopped);
}

void CAlertWindow::closeEvent(QCloseEvent* event)
{
    emit closedAt(pos());
    event->accept();
}

void CAlertWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        dragOffset_ = event->globalPosition().toPoint() - pos();
    }
}

void CAlertWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_ && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - dragOffset_);
}

void CAlertWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.setPen(QColor(200, 40, 40));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
