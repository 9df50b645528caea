#pragma once

#include "server/core/address_sms.h"
#include "server/core/sms_sender.h"
#include "server/model/records.h"

#include <QColor>
#include <QDialog>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <vector>

class CPointBase;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;

// "Информация о точке": one point of the register for editing (name,
// description, phone), its last report as coloured lines refreshed every
// five seconds, the verdict on its GPRS link, and the SMS that gives the
// controller the server's current public address and port.
//
// It works directly on the server's CPointBase. Results for the caller:
// Accepted, the point was saved; Rejected with `serial` 0, it was deleted;
// Rejected otherwise, nothing changed.
//
// A serial that is not in the register (deleted meanwhile) is shown as
// such; saving registers it anew.
class CSignalInfoDlg final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 5000;
    // A link with a report younger than this many whole minutes works.
    static constexpr std::int64_t kWorkingLinkMinutes = 6;

    static const QColor kBlack;
    static const QColor kRed;
    static const QColor kGreen;
    static const QColor kOlive;

    // The point shown; 0 once it has been deleted.
    std::uint32_t serial;

    // `serverAddress` is the public address as the address check last gave
    // it, `serverPort` the port the server listens on. Without a sender (no
    // modem) the SMS button does nothing.
    CSignalInfoDlg(std::uint32_t serial, CPointBase& base, const QString& serverAddress, std::uint32_t serverPort,
                   CSmsSender* sender, QWidget* parent = nullptr);

    struct ReportLine
    {
        QString text;
        QColor colour;
        bool operator==(const ReportLine&) const = default;
    };
    // The lines of the report view for a point's last report.
    static std::vector<ReportLine> ReportLines(const T_PKTINFO& info);

    struct LinkStatus
    {
        QString text;
        bool smsWanted = false; // the link does not work: the address SMS may help
    };
    // The verdict on a registered point's GPRS link at `now`, from its
    // latest event of today or else of yesterday, and its last report.
    static LinkStatus LinkVerdict(const CPointBase& base, std::uint32_t serial, int index, std::int64_t now);

    static const QString kNoLinkTwoDaysText;
    static const QString kNoLinkForAWhileText;
    static const QString kLinkWorksText;
    static const QString kSmsSentText;
    static const QString kNotRegisteredText;
    static const QString kDeleteQuestion;

    // Register index of the point, or the register's count when it is not
    // registered.
    int index() const { return index_; }
    // The six bytes of the address SMS; valid only when the address and port
    // make one.
    const AddressSmsCheck& addressSms() const { return addressSms_; }

    void RenderReport();
    void ShowLinkStatus();
    void OnSave();
    void OnDelete();
    void OnSendSms();

private:
    void CreateControls();
    void FillFields();
    void AppendText(const QString& text, const QColor& colour);
    void FindIndex();
    void SmsFinished(CSmsSender::Result result);
    void SetLinkStatusText(const QString& text);
    // The ten characters at the phone field's input positions.
    QString PhoneValue() const;
    static QString PhoneFieldText(const QString& stored);

    CPointBase& base_;
    int index_ = 0;
    QString serverAddress_;
    std::uint32_t serverPort_;
    QPointer<CSmsSender> sender_;
    AddressSmsCheck addressSms_;
    bool smsPending_ = false;
    QTimer* refreshTimer_ = nullptr;

    QLineEdit* serialEdit_ = nullptr;
    QLineEdit* nameEdit_ = nullptr;
    QPlainTextEdit* descriptionEdit_ = nullptr;
    QLineEdit* phoneEdit_ = nullptr;
    QTextEdit* reportView_ = nullptr;
    QPlainTextEdit* linkStatus_ = nullptr;
    QPushButton* sendSmsButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};
