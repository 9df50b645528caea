#pragma once

#include <QDialog>

#include <cstdint>

class QLineEdit;

// "Установки": the listening port and the base folder, read from and
// written to the server's settings store. OK writes both; Cancel nothing.
class CSetupDlg final : public QDialog
{
    Q_OBJECT

public:
    explicit CSetupDlg(QWidget* parent = nullptr);

    std::uint32_t port = 0;
    QString folder;

    void accept() override;

private:
    void BrowseFolder();

    QLineEdit* portEdit_;
    QLineEdit* folderEdit_;
};
