#pragma once

#include "common/serial_device.h"

#include <QDialog>
#include <QStringList>

class QComboBox;

// "Установки порта": the serial port that leads to the controller, chosen
// among the ports that open now, and its line settings. OK stores them in
// the settings section "RS232"; nothing else is ever stored.
class CRS232SetupDlg : public QDialog
{
    Q_OBJECT

public:
    // devicePatterns: where the machine's serial devices are looked for
    // besides COM0 .. COM9 (see ListOpenablePorts).
    explicit CRS232SetupDlg(QWidget* parent = nullptr, const QStringList& devicePatterns = DefaultPatterns());

    static QStringList DefaultPatterns();

    const QString& PortName() const { return portName_; }
    const T_SERIALLINE& Line() const { return line_; }

    void accept() override;

private:
    void LoadSettings();
    void FillList(const QStringList& devicePatterns);
    void OnLineSettings();

    QString portName_;
    // The line settings record: speed, data bits, parity and stop bits as
    // stored; flow control off.
    T_SERIALLINE line_;
    QComboBox* ports_ = nullptr;
};
