#pragma once

#include "server/link/alert_presenter.h"

#include <QObject>
#include <QPointer>

#include "server/ui/alert_window.h"

class QWidget;

// Opens alert windows owned by the main window and tells the owner where
// each one was when the user closed it.
class CDesktopAlert final : public QObject, public CAlertPresenter
{
    Q_OBJECT

public:
    explicit CDesktopAlert(QWidget* owner);

    void Show(const QPoint& position, const QString& caption, const QString& text) override;
    CAlertWindow* Current() const { return current_; }

signals:
    void closed(QPoint lastPosition);

private:
    QWidget* owner_;
    QPointer<CAlertWindow> current_;
};
