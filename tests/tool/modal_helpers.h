// Answering the modal windows of the setup tool from a test: each modal box
// or dialog runs its own loop, so the test's steps run from a timer inside it.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

// Runs step once a modal window of type T is the active one (checked every
// few milliseconds); a test fails, instead of hanging, when none comes in
// time. The step may open further modal windows.
template <typename T>
void WhenModal(std::function<void(T*)> step, int deadlineMs = 10000)
{
    constexpr int kCheckMs = 5;
    auto* timer = new QTimer(qApp);
    auto left = std::make_shared<int>(deadlineMs / kCheckMs);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, left, step] {
        if (auto* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            step(modal);
            return;
        }
        if (--*left <= 0) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " came";
            // Whatever stands there instead is closed, so the test ends.
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                dialog->reject();
        }
    });
    timer->start(kCheckMs);
}

// Answers every message box that becomes active while it lives with one
// button, and keeps their texts.
class CBoxWatcher
{
public:
    explicit CBoxWatcher(QMessageBox::StandardButton button = QMessageBox::Ok)
    {
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->property("answered").toBool())
                return;
            box->setProperty("answered", true);
            texts.push_back(box->text());
            if (QAbstractButton* b = box->button(button))
                b->click();
            else
                box->reject();
        });
        timer_.start(5);
    }

    std::vector<QString> texts;

private:
    QTimer timer_;
};
