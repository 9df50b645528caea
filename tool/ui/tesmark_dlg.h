#pragma once

#include "tool/device/device_view.h"
#include "tool/device/tesmark_device.h"

#include <QDialog>
#include <QFont>
#include <QPixmap>
#include <QStringList>

#include <map>

class CIpAddressEdit;
class CProSliderCtrl;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTimer;

// The setup tool's main window: every setting of the connected alarm
// controller as a control, its live readings on the sliders, and its serial
// number in the status text. The poll timer runs PollStatus.
class CTesmarkDlg : public QDialog, public CDeviceView
{
    Q_OBJECT

public:
    explicit CTesmarkDlg(QWidget* parent = nullptr);
    ~CTesmarkDlg() override;

    CTesmarkDevice& Device() { return device_; }
    QTimer* PollTimer() const { return pollTimer_; }

    // Handlers of the buttons that talk to the controller.
    void OnWrite();
    void OnPort();
    // "Отправка SMS": the SMS editor, after a reminder of the phone number.
    void OnSendSms();
    // A double-click on "Ключ 16": access code, new serial number, write.
    void OnSerialChange();
    // "О проекте Tesmark": from the window's context menu and F1.
    void OnAbout();
    // A stop asked for from outside (SIGTERM, SIGINT): answers every box or
    // dialog open over the window as its cancel button would, then closes
    // the window the way "Отмена" does, which closes the port.
    void CloseOnStopSignal();

    // Tests shorten the SMS editor's write tick and choose where the port
    // dialog looks for serial devices.
    void SetSmsWriteInterval(int ms) { smsWriteIntervalMs_ = ms; }
    void SetDevicePatterns(const QStringList& patterns) { devicePatterns_ = patterns; }

    // CDeviceView
    int Position(int id) const override;
    void SetPosition(int id, int position) override;
    void SetCurrentValue(int id, int value) override;
    bool Checked(int id) const override;
    void SetChecked(int id, bool checked) override;
    void SetText(int id, const QString& text) override;
    void SetStatePicture(int id, bool up) override;
    QString PhoneDigits(int id) const override;
    void ShowServer(std::uint32_t address, std::uint32_t port) override;
    bool TakeServer(std::uint32_t* address, std::uint32_t* port) override;
    void StartPoll(int periodMs) override;
    void StopPoll() override;
    bool ConfirmClearKeys() override;
    void ReportPortRefused(const QString& text) override;

    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void CreateConnectionRow();
    void CreateTiltGroups();
    void CreateTemperatureGroups();
    void CreateLightGroup();
    void CreateSensorGroups();
    void CreateKeyColumn();
    QGroupBox* AddGroupBox(const char* name, const QString& title, const QRect& units);
    CProSliderCtrl* AddSlider(int id, const char* name, int x, int y, int height, int minimum, int maximum);
    QCheckBox* AddCheckBox(int id, const char* name, const QString& text, const QRect& units, bool polarity = false);
    QLabel* AddLabel(int id, const char* name, const QString& text, const QRect& units,
                     Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
    QLineEdit* AddPhoneEdit(int id, const char* name, const QRect& units);
    void OnScroll(CProSliderCtrl* slider);
    void ShowMessage(const QString& text);
    void ReportWriteRefused();

    CTesmarkDevice device_;
    QTimer* pollTimer_ = nullptr;
    QPixmap upPicture_;
    QPixmap downPicture_;
    QFont boldFont_;
    std::map<int, CProSliderCtrl*> sliders_;
    std::map<int, QCheckBox*> checkBoxes_;
    std::map<int, QLabel*> labels_;
    std::map<int, QLineEdit*> phoneEdits_;
    CIpAddressEdit* serverAddressEdit_ = nullptr;
    QLineEdit* serverPortEdit_ = nullptr;
    int smsWriteIntervalMs_;
    QStringList devicePatterns_;
    // A report that came before the window was shown waits for it.
    QString pendingPortReport_;
    // The window is closing: nothing starts polling or opens the port again.
    bool closing_ = false;
};
