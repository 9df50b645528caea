#include "server/ui/varkon_app.h"

#include "common/settings_store.h"

#include <QIcon>
#include <QMessageBox>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include <exception>

CVarkonApp::CVarkonApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setOrganizationName(QString::fromUtf16(Settings::kOrganisation));
    setApplicationName(QString::fromUtf16(Settings::kServerProgram));
    setWindowIcon(QIcon(QStringLiteral(":/server/app_icon.svg")));
    setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // A light silver look.
    QPalette silver = style()->standardPalette();
    silver.setColor(QPalette::Window, QColor(0xE3, 0xE7, 0xEC));
    silver.setColor(QPalette::Button, QColor(0xEE, 0xF1, 0xF5));
    silver.setColor(QPalette::Base, Qt::white);
    silver.setColor(QPalette::AlternateBase, QColor(0xF4, 0xF6, 0xF9));
    silver.setColor(QPalette::Highlight, QColor(0x9C, 0xB4, 0xD8));
    silver.setColor(QPalette::HighlightedText, Qt::black);
    setPalette(silver);
}

bool CVarkonApp::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        QMessageBox::critical(activeWindow(), applicationName(), QString::fromLocal8Bit(error.what()));
    }
    return false;
}
