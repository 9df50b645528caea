#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>

class QNetworkAccessManager;
class QNetworkReply;
class QTcpSocket;

// The public address check: a plain-text public-IP service is asked for the
// server's own public address (HTTP GET, answer body = the address), then a
// TCP connection is tried from the inside to that address at the server's
// listening port. Controllers reach the server there, so the operator sees
// whether that can work.
//
// Everything runs on the GUI thread without blocking it: the HTTP answer and
// the connection each get a bounded wait. A new check supersedes one still
// running, whose outcome is never reported; Cancel abandons it.
class CExternalIpCheck final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kHttpTimeoutMs = 5000;
    static constexpr int kConnectTimeoutMs = 5000;
    // The answer is read once, at most this many bytes, each byte one
    // character; nothing is trimmed.
    static constexpr qsizetype kMaxAnswer = 1023;
    // The service asked when the settings name none: its answer to /ip is the
    // caller's IPv4 address in dotted decimal.
    static constexpr char16_t kDefaultService[] = u"http://ipinfo.io/ip";
    // Settings store, section "IP setting": the service's URL (text).
    static constexpr char16_t kServiceValue[] = u"IP service";

    explicit CExternalIpCheck(QObject* parent = nullptr);
    ~CExternalIpCheck() override;

    // The bounded waits; tests shorten them.
    int httpTimeoutMs = kHttpTimeoutMs;
    int connectTimeoutMs = kConnectTimeoutMs;

    // The service's URL as the settings store gives it now.
    static QString ServiceUrl();

    // Asks the service for the address; `queried` brings the outcome.
    void QueryExternalIp();
    // The whole check: the service's address, then a connection to it at
    // `port`; `checked` brings the outcome.
    void CheckExternalPort(std::uint32_t port);
    // Abandons a running check or query: nothing more is reported of it.
    void Cancel();
    bool IsRunning() const { return step_ != Step::Idle; }

    // Status texts of a finished check; the service's line break after the
    // address puts the port verdict on a line of its own.
    static QString PortOpenText(const QString& address, std::uint32_t port);
    static QString PortClosedText(const QString& address, std::uint32_t port);

signals:
    // `text`: the answer's body when `ok`.
    void queried(bool ok, const QString& text);
    // `answered` false: the service gave no address (unreachable, an error,
    // a status other than 200, no answer in time). Otherwise `address` is
    // its answer as received and `portOpen` the verdict on `port`.
    void checked(bool answered, const QString& address, std::uint32_t port, bool portOpen);

private:
    enum class Step { Idle, Query, Port };

    void StartQuery(bool wholeCheck);
    bool StatusIsOk() const;
    void OnReplyData();
    void OnReplyFinished();
    void OnDeadline();
    void EndQuery(bool ok, const QString& text);
    void TryPort();
    void EndCheck(bool portOpen);
    void DropReply();
    void DropSocket();

    QNetworkAccessManager* manager_;
    QPointer<QNetworkReply> reply_;
    QPointer<QTcpSocket> socket_;
    QTimer deadline_;
    QByteArray answer_;
    QString address_;
    std::uint32_t port_ = 0;
    Step step_ = Step::Idle;
    bool wholeCheck_ = false;     // the query is the first step of CheckExternalPort
    std::uint64_t generation_ = 0; // counts starts and cancellations
};
