#include "server/core/server_core.h"

#include "common/clock.h"
#include "common/settings_store.h"
#include "server/link/gprs_link.h"
#include "server/link/sms_decoder.h"
#include "server/model/event_codes.h"
#include "server/storage/register_file.h"

const QString CServerCore::kModemNotFound = QStringLiteral("GPRS модем не активирован");
const QString CServerCore::kModemFailed = QStringLiteral("Необходимо перезапустить GPRS модем и программу");

CServerCore::CServerCore(const CClock& clock, CSoundPlayer& sound, CAlertPresenter& alert, QObject* parent)
    : QObject(parent),
      clock_(clock),
      pointBase_(clock),
      journal_(pointBase_),
      pipeline_(pointBase_, journal_, {points_, alarms_, events_}, sound, alert),
      link_(std::make_unique<CGprsLink>(pipeline_))
{
    connect(link_.get(), &CGprsLink::receiveError, this, &CServerCore::receiveError);
    journal_.onAppendFailure = [this](const QString& reason) {
        emit warning(QStringLiteral("Журнал дня %1 не удаётся дописывать после каждого события: %2.\n"
                                    "События хранятся в памяти и будут записаны в файл целиком при открытии "
                                    "журнала, в полночь и при остановке сервера.")
                         .arg(journal_.TodayFile(), reason));
    };
    minuteTimer_.setInterval(kMinuteTimerMs);
    connect(&minuteTimer_, &QTimer::timeout, this, &CServerCore::OnMinuteTimer);
    connect(&ipCheck_, &CExternalIpCheck::checked, this, &CServerCore::AddressChecked);

    modemTimer_.setInterval(kModemTimerMs);
    connect(&modemTimer_, &QTimer::timeout, this, &CServerCore::OnModemTimer);
    connect(&modem_, &CModemLink::probeFinished, this, [this](bool found) {
        if (shutDown_)
            return;
        if (found)
            modemTimer_.start();
        else
            emit modemMessage(kModemNotFound); // the server runs without SMS reception
    });
    connect(&modem_, &CModemLink::pollFinished, this, [this](int result) {
        if (shutDown_)
            return;
        if (result == -1) {
            // SMS reception stays off until the program is restarted.
            modemTimer_.stop();
            emit modemMessage(kModemFailed);
        } else if (result == 0) {
            ProcessSms(modem_.messages, pipeline_);
        }
    });
    // A failed tick leaves the modem timer running: the next tick tries again.
    connect(&modem_, &CModemLink::portError, this, [this](const QString& text) {
        if (!shutDown_)
            emit modemError(text);
    });
}

CServerCore::~CServerCore()
{
    Shutdown();
    link_.reset();
}

void CServerCore::StartUp()
{
    if (shutDown_)
        return;
    ListenOnStoredPort();
    CheckExternalAddress();
    const RegisterLoadResult loaded = LoadRegister(pointBase_);
    if (loaded.status == RegisterLoadResult::Damaged)
        emit warning(loaded.message); // start-up goes on with what could be read
    journal_.LoadJournals();
    pipeline_.RefreshLists();
    pipeline_.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STARTED);
    minuteTimer_.start();
    modem_.Probe();
}

void CServerCore::ListenOnStoredPort()
{
    if (shutDown_)
        return;
    const CSettingsStore store(QString::fromUtf16(Settings::kServerProgram));
    port = store.GetUInt(QString::fromUtf16(Settings::kIpSection), QString::fromUtf16(Settings::kIpPort),
                         Settings::kDefaultIpPort);
    if (!link_->Listen(port))
        emit listenFailed(QStringLiteral("Сервер не принимает отчёты: порт %1 не удалось открыть для приёма (%2).\n"
                                         "Выберите другой порт в окне \"Установки\".")
                              .arg(port)
                              .arg(link_->ListenError()));
}

void CServerCore::SettingsChanged()
{
    if (shutDown_)
        return;
    link_->StopListening();
    ListenOnStoredPort();
    CheckExternalAddress();
}

std::uint32_t CServerCore::ServerPort() const { return link_->IsListening() ? link_->ListeningPort() : port; }

void CServerCore::CheckExternalAddress()
{
    if (!shutDown_)
        ipCheck_.CheckExternalPort(ServerPort());
}

void CServerCore::AddressChecked(bool answered, const QString& address, std::uint32_t checkedPort, bool portOpen)
{
    if (shutDown_)
        return;
    // Without an answer the previous address stays and is shown alone.
    if (answered)
        externalIp = address;
    externalStatus_ = !answered ? externalIp
        : portOpen              ? CExternalIpCheck::PortOpenText(externalIp, checkedPort)
                                : CExternalIpCheck::PortClosedText(externalIp, checkedPort);
    emit externalAddressChecked(externalStatus_);
}

void CServerCore::OnMinuteTimer()
{
    if (shutDown_)
        return;
    const std::int64_t now = clock_.Now();
    pipeline_.SuperviseGprs(now);
    const int day = CPointBase::DayOfMonth(now);
    if (day != pointBase_.today) {
        pointBase_.today = day;
        journal_.RollOver();
        pipeline_.RefreshLists();
    }
}

void CServerCore::OnModemTimer()
{
    if (!shutDown_)
        modem_.Poll(); // skipped while the previous poll runs
}

void CServerCore::SaveJournal()
{
    if (!shutDown_)
        journal_.SaveToday();
}

void CServerCore::Shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    minuteTimer_.stop();
    ipCheck_.Cancel();
    modemTimer_.stop();
    link_->StopListening();
    pipeline_.RecordEvent(0, SRC_SYSTEM, EV_SERVER_STOPPED);
    journal_.SaveToday();
    // Whatever is asked of the pipeline from now on records nothing.
    pipeline_.Close();
    // The modem's exchange under way is cut short and its port closed.
    modem_.Stop();
}
