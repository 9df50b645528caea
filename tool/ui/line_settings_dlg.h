#pragma once

#include "common/serial_device.h"

#include <QDialog>

class QComboBox;

// The line settings of a port: speed, data bits, parity and stop bits,
// edited in place in the port dialog's record. Only speeds the system's
// serial driver can set are offered. OK writes the chosen values into the
// record; a value the record holds that the lists do not offer is kept
// unless another is chosen. Cancel changes nothing.
class CLineSettingsDlg : public QDialog
{
    Q_OBJECT

public:
    CLineSettingsDlg(const QString& portName, T_SERIALLINE* record, QWidget* parent = nullptr);

    void accept() override;

private:
    QComboBox* AddRow(int row, const QString& caption, const char* name);

    T_SERIALLINE* record_;
    QComboBox* baudRate_ = nullptr;
    QComboBox* dataBits_ = nullptr;
    QComboBox* parity_ = nullptr;
    QComboBox* stopBits_ = nullptr;
};
