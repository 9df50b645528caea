#include "server/core/external_ip_check.h"

#include "common/settings_store.h"
#include "server/core/address_sms.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QUrl>

namespace {

constexpr int kHttpOk = 200;
constexpr std::uint32_t kMaxPort = 65535;

// The system's proxy settings, except for the computer itself.
class CSystemProxyFactory final : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        const QString host = query.peerHostName();
        const QHostAddress address(host);
        if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0
            || (!address.isNull() && address.isLoopback()))
            return {QNetworkProxy(QNetworkProxy::NoProxy)};
        return systemProxyForQuery(query);
    }
};

} // namespace

CExternalIpCheck::CExternalIpCheck(QObject* parent) : QObject(parent), manager_(new QNetworkAccessManager(this))
{
    manager_->setProxyFactory(new CSystemProxyFactory); // the manager owns it
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, &CExternalIpCheck::OnDeadline);
}

CExternalIpCheck::~CExternalIpCheck() { Cancel(); }

QString CExternalIpCheck::ServiceUrl()
{
    const CSettingsStore store(QString::fromUtf16(Settings::kServerProgram));
    const QString url = store.GetString(QString::fromUtf16(Settings::kIpSection), QString::fromUtf16(kServiceValue),
                                        QString::fromUtf16(kDefaultService))
                            .trimmed();
    return url.isEmpty() ? QString::fromUtf16(kDefaultService) : url;
}

QString CExternalIpCheck::PortOpenText(const QString& address, std::uint32_t port)
{
    return QStringLiteral("Внешний IP: %1Порт %2 открыт.").arg(address).arg(port);
}

QString CExternalIpCheck::PortClosedText(const QString& address, std::uint32_t port)
{
    return QStringLiteral("Внешний IP: %1Порт %2 закрыт!!!").arg(address).arg(port);
}

void CExternalIpCheck::QueryExternalIp() { StartQuery(false); }

void CExternalIpCheck::CheckExternalPort(std::uint32_t port)
{
    port_ = port;
    StartQuery(true);
}

void CExternalIpCheck::Cancel()
{
    ++generation_;
    deadline_.stop();
    DropReply();
    DropSocket();
    step_ = Step::Idle;
}

void CExternalIpCheck::StartQuery(bool wholeCheck)
{
    Cancel();
    wholeCheck_ = wholeCheck;
    step_ = Step::Query;
    answer_.clear();
    address_.clear();
    const QUrl url(ServiceUrl(), QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https")) {
        EndQuery(false, QString());
        return;
    }
    QNetworkRequest request(url);
    request.setRawHeader("Accept", "*/*");
    request.setRawHeader("User-Agent", "QUARN");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    reply_ = manager_->get(request);
    // What the manager may hold beyond what has been read; the answer itself
    // is taken in pieces up to its limit.
    reply_->setReadBufferSize(kMaxAnswer + 1);
    connect(reply_, &QNetworkReply::readyRead, this, &CExternalIpCheck::OnReplyData);
    connect(reply_, &QNetworkReply::finished, this, &CExternalIpCheck::OnReplyFinished);
    deadline_.start(httpTimeoutMs);
}

bool CExternalIpCheck::StatusIsOk() const
{
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() && status.toInt() == kHttpOk;
}

void CExternalIpCheck::OnReplyData()
{
    // The body of an error status is not read; its end decides.
    if (!reply_ || !StatusIsOk())
        return;
    answer_ += reply_->read(kMaxAnswer - answer_.size());
    if (answer_.size() >= kMaxAnswer)
        EndQuery(true, QString::fromLatin1(answer_));
}

void CExternalIpCheck::OnReplyFinished()
{
    if (!reply_)
        return;
    if (reply_->error() != QNetworkReply::NoError || !StatusIsOk()) {
        EndQuery(false, QString());
        return;
    }
    answer_ += reply_->read(kMaxAnswer - answer_.size());
    EndQuery(true, QString::fromLatin1(answer_));
}

void CExternalIpCheck::OnDeadline()
{
    if (step_ == Step::Query)
        EndQuery(false, QString());
    else if (step_ == Step::Port)
        EndCheck(false);
}

void CExternalIpCheck::EndQuery(bool ok, const QString& text)
{
    deadline_.stop();
    DropReply();
    const std::uint64_t generation = generation_;
    if (!wholeCheck_)
        step_ = Step::Idle;
    emit queried(ok, text);
    // Whoever heard the answer may have started another check meanwhile.
    if (generation != generation_ || !wholeCheck_)
        return;
    if (!ok) {
        step_ = Step::Idle;
        emit checked(false, QString(), port_, false);
        return;
    }
    address_ = text;
    TryPort();
}

void CExternalIpCheck::TryPort()
{
    const auto address = ParseDottedIpv4(address_);
    if (!address || port_ == 0 || port_ > kMaxPort) {
        EndCheck(false);
        return;
    }
    step_ = Step::Port;
    const quint32 ip = (quint32{(*address)[0]} << 24) | (quint32{(*address)[1]} << 16)
        | (quint32{(*address)[2]} << 8) | quint32{(*address)[3]};
    socket_ = new QTcpSocket(this);
    socket_->setProxy(QNetworkProxy::NoProxy); // the way a controller would come
    connect(socket_, &QTcpSocket::connected, this, [this] { EndCheck(true); });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this] { EndCheck(false); });
    deadline_.start(connectTimeoutMs);
    socket_->connectToHost(QHostAddress(ip), static_cast<quint16>(port_));
}

void CExternalIpCheck::EndCheck(bool portOpen)
{
    deadline_.stop();
    DropSocket();
    step_ = Step::Idle;
    emit checked(true, address_, port_, portOpen);
}

void CExternalIpCheck::DropReply()
{
    if (!reply_)
        return;
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    if (!reply->isFinished())
        reply->abort();
    reply->deleteLater();
}

void CExternalIpCheck::DropSocket()
{
    if (!socket_)
        return;
    QTcpSocket* socket = socket_;
    socket_ = nullptr;
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
}
