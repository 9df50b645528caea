#include "server/ui/desktop_alert.h"

#include "server/ui/alert_window.h"

CDesktopAlert::CDesktopAlert(QWidget* owner) : QObject(owner), owner_(owner) {}

void CDesktopAlert::Show(const QPoint& position, const QString& caption, const QString& text)
{
    auto* window = new CAlertWindow(position, caption, text, owner_);
    connect(window, &CAlertWindow::closedAt, this, &CDesktopAlert::closed);
    current_ = window;
    window->show();
}
