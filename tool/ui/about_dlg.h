#pragma once

#include <QDialog>

// "О проекте Tesmark": the program's name and version.
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
