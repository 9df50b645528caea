// Tesmark, the setup tool of the alarm controllers.
#include "common/settings_store.h"
#include "tool/ui/tesmark_dlg.h"

#include <QApplication>
#include <QIcon>
#include <QStyleFactory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromUtf16(Settings::kOrganisation));
    QApplication::setApplicationName(QString::fromUtf16(Settings::kToolProgram));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tool/app_icon.svg")));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    // The window is the program: it ends when the window closes.
    CTesmarkDlg window;
    window.exec();
    return 0;
}
