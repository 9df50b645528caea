#pragma once

#include <QApplication>

// The server's application object: names the settings store, sets the
// light look, and reports an error that a handler let escape in a message
// box, after which the program goes on.
class CVarkonApp final : public QApplication
{
    Q_OBJECT

public:
    CVarkonApp(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
