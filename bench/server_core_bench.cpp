// Cost of a report in the server core with a full day's load: 10,000 points,
// 200,000 events today, the three list models with a view on each. Also the
// start-up work for 10,000 points and two days of 100,000 events, and the cost
// of cutting a connection's byte stream into frames.
#include "common/manual_clock.h"
#include "server/link/alert_presenter.h"
#include "server/link/event_pipeline.h"
#include "server/link/rx_pkg.h"
#include "server/link/sound_player.h"
#include "server/model/event_codes.h"
#include "server/model/point_base.h"
#include "server/model/report_frame.h"
#include "server/storage/day_journal.h"
#include "server/storage/register_file.h"
#include "server/lists/alarm_list_model.h"
#include "server/lists/event_list_model.h"
#include "server/lists/point_list_model.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTableView>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kPoints = 10000;
constexpr int kEventsToday = 200000;
constexpr std::int64_t kNoon = 1765357200;

class CSilentSound final : public CSoundPlayer
{
public:
    void Play(const QString&) override {}
};

class CSilentAlert final : public CAlertPresenter
{
public:
    void Show(const QPoint&, const QString&, const QString&) override {}
};

std::array<std::uint8_t, 64> Frame(std::uint32_t serial, std::uint16_t flags)
{
    CReportFrame frame;
    frame.SetSerial(serial);
    frame.SetFlags(flags);
    frame.SealCrc();
    return frame.Bytes();
}

std::uint32_t SerialOf(int i) { return 0x00010000u + static_cast<std::uint32_t>(i); }

// A loaded server core with models and views, as the main window holds it.
struct Server
{
    explicit Server(const QString& folder) : base(clock, folder), journal(base)
    {
        journal.LoadJournals();
        for (auto* view : {&pointView, &alarmView, &eventView}) {
            view->verticalHeader()->hide();
            view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
            view->resize(600, 400);
        }
        pointView.setModel(&points);
        alarmView.setModel(&alarms);
        eventView.setModel(&events);
        pointView.show();
        alarmView.show();
        eventView.show();
    }

    // Lets the list timers announce new rows to the views, as the event
    // loop does between reports.
    void Pump()
    {
        if (sinceFlush.elapsed() >= CTopInsertModel::kAnnounceInterval) {
            QCoreApplication::processEvents();
            sinceFlush.restart();
        }
    }

    CManualClock clock{kNoon};
    CPointBase base;
    CDayJournal journal;
    CPointListModel points;
    CAlarmListModel alarms;
    CEventListModel events;
    CSilentSound sound;
    CSilentAlert alert;
    CEventPipeline pipeline{base, journal, {points, alarms, events}, sound, alert};
    QTableView pointView, alarmView, eventView;
    QElapsedTimer sinceFlush;
};

// 10,000 points whose reports of the day add up to 200,000 events.
std::unique_ptr<Server> LoadedServer(const QString& folder)
{
    auto server = std::make_unique<Server>(folder);
    for (int i = 0; i < kPoints; ++i)
        server->base.AddPoint(SerialOf(i));
    server->pipeline.RefreshLists();
    for (int n = 0; n < kEventsToday / 2; ++n) {
        const int i = n % kPoints;
        server->pipeline.AcceptReport(Frame(SerialOf(i), RF_SHOCK), SRC_GPRS);
        server->pipeline.AcceptReport(Frame(SerialOf(i), 0), SRC_GPRS);
    }
    QCoreApplication::processEvents();
    server->sinceFlush.start();
    return server;
}

void BM_AcceptReport_Repeated(benchmark::State& state)
{
    QTemporaryDir dir;
    auto server = LoadedServer(dir.path());
    // Every point's last event is "point found": a plain report repeats it.
    std::vector<std::array<std::uint8_t, 64>> frames;
    for (int i = 0; i < kPoints; ++i)
        frames.push_back(Frame(SerialOf(i), 0));
    const auto before = server->base.todayEvents().size();
    int i = 0;
    for (auto _ : state) {
        server->pipeline.AcceptReport(frames[static_cast<std::size_t>(i)], SRC_GPRS);
        if (++i == kPoints)
            i = 0;
        server->Pump();
    }
    if (server->base.todayEvents().size() != before)
        state.SkipWithError("a repeated report recorded an event");
    state.SetItemsProcessed(state.iterations());
    state.counters["events_today"] = static_cast<double>(server->base.todayEvents().size());
}
BENCHMARK(BM_AcceptReport_Repeated)->Unit(benchmark::kNanosecond);

void BM_AcceptReport_RecordsEvent(benchmark::State& state)
{
    QTemporaryDir dir;
    auto server = LoadedServer(dir.path());
    std::vector<std::array<std::uint8_t, 64>> frames;
    for (int i = 0; i < kPoints; ++i) {
        frames.push_back(Frame(SerialOf(i), RF_SHOCK));
        frames.push_back(Frame(SerialOf(i), 0));
    }
    const auto before = server->base.todayEvents().size();
    std::size_t k = 0;
    for (auto _ : state) {
        server->pipeline.AcceptReport(frames[k], SRC_GPRS);
        if (++k == frames.size())
            k = 0;
        server->Pump();
    }
    const auto recorded = server->base.todayEvents().size() - before;
    if (recorded != static_cast<std::size_t>(state.iterations()))
        state.SkipWithError("not every report recorded an event");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AcceptReport_RecordsEvent)->Unit(benchmark::kNanosecond);

// LoadRegister + LoadJournals + RefreshLists for 10,000 points and two
// day files of 100,000 events each.
void BM_StartUp(benchmark::State& state)
{
    QTemporaryDir dir;
    {
        CManualClock clock(kNoon);
        CPointBase base(clock, dir.path());
        for (int i = 0; i < kPoints; ++i)
            base.AddPoint(SerialOf(i));
        for (int i = 0; i < kPoints; i += 3)
            base.SetName(i, QStringLiteral("Банкомат №%1").arg(i));
        SaveRegister(base);
        for (const std::int64_t day : {kNoon, kNoon - 86400}) {
            std::vector<T_EVENT> events(100000);
            for (std::size_t n = 0; n < events.size(); ++n) {
                events[n].serial = SerialOf(static_cast<int>(n % kPoints));
                events[n].code = (n % 2) ? EV_POINT_FOUND : EV_SHOCK;
                events[n].source = SRC_GPRS;
                events[n].time = day - 40000 + static_cast<std::int64_t>(n / 4);
            }
            CDayJournal::WriteDayFile(CDayJournal::DayFileName(dir.path(), day), events);
        }
    }
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        Server server(dir.path());
        LoadRegister(server.base);
        server.journal.LoadJournals();
        server.pipeline.RefreshLists();
        QCoreApplication::processEvents();
        // Tearing the views down afterwards is not start-up.
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        if (server.events.rowCount() != 200000 || server.points.rowCount() != kPoints)
            state.SkipWithError("start-up did not list everything");
    }
}
BENCHMARK(BM_StartUp)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();

// A connection's byte stream cut into frames, read as the socket delivers it
// (4096 bytes a read): clean, and with a few bytes of noise before every
// tenth frame.
std::vector<std::uint8_t> ReportStream(int frames, int noiseEvery)
{
    std::vector<std::uint8_t> stream;
    for (int n = 0; n < frames; ++n) {
        if (noiseEvery > 0 && n % noiseEvery == noiseEvery / 2)
            for (int b = 0; b < 5; ++b)
                stream.push_back(static_cast<std::uint8_t>(0x5A + 31 * n + b));
        const auto frame = Frame(SerialOf(n % kPoints), n % 2 ? RF_SHOCK : 0);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

void BM_ReceiveFrames(benchmark::State& state)
{
    constexpr int kFrames = 10000;
    const std::vector<std::uint8_t> stream = ReportStream(kFrames, static_cast<int>(state.range(0)));
    const CRxPkg::KnownSerial known = [](std::uint32_t serial) { return serial - SerialOf(0) < kPoints; };
    std::size_t found = 0;
    for (auto _ : state) {
        CRxPkg rx;
        found = 0;
        for (std::size_t at = 0; at < stream.size(); at += CRxPkg::kReadChunk) {
            const std::size_t chunk = std::min(CRxPkg::kReadChunk, stream.size() - at);
            std::memcpy(rx.ReadSpace(), stream.data() + at, chunk);
            rx.Received(chunk);
            while (rx.NextFrame(known))
                ++found;
            rx.Park();
        }
        benchmark::DoNotOptimize(rx.data);
    }
    if (found != kFrames)
        state.SkipWithError("not every frame was found");
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
}
BENCHMARK(BM_ReceiveFrames)->Arg(0)->Arg(10)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
