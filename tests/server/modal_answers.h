#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

// Answers the next modal dialog when the event loop gets to it.
inline void WhenModal(std::function<void(QWidget*)> answer)
{
    QTimer::singleShot(0, qApp, [answer] {
        QWidget* modal = nullptr;
        [[maybe_unused]] const bool shown =
            QTest::qWaitFor([&] { return (modal = QApplication::activeModalWidget()) != nullptr; }, 5000);
        ASSERT_NE(modal, nullptr);
        answer(modal);
    });
}

// While it lives, answers every modal dialog that opens on top of `base`:
// records its object name and hands it to `answer`, which must close it. An
// answer that opens another modal dialog must do so from a queued call: the
// answerer is not called again while an answer runs.
class CModalAnswerer
{
public:
    CModalAnswerer(QWidget* base, std::function<void(QWidget*)> answer) : base_(base), answer_(std::move(answer))
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || modal == base_ || modal == current_.data())
                return;
            current_ = modal;
            seen << modal->objectName();
            answer_(modal);
        });
        timer_.start();
    }

    QStringList seen;

private:
    QWidget* base_;
    QPointer<QWidget> current_;
    std::function<void(QWidget*)> answer_;
    QTimer timer_;
};
