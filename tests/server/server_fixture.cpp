#include "tests/server/server_fixture.h"

#include "common/settings_store.h"

#include "server/model/report_frame.h"
#include "tests/support/temp_env.h"

std::array<std::uint8_t, 64> MakeFrame(std::uint32_t serial, std::uint16_t flags, std::uint8_t key0)
{
    CReportFrame frame;
    frame.SetSerial(serial);
    frame.SetFlags(flags);
    const std::uint8_t key[8] = {key0, 0, 0, 0, 0, 0, 0, 0};
    frame.SetKey(key);
    frame.SealCrc();
    return frame.Bytes();
}

PipelineTest::PipelineTest()
    : folder(MakeTempFolder()),
      base(clock, folder),
      pipeline(base, journal, {points, alarms, events}, sound, alert)
{
    for (QAbstractItemModel* model : std::initializer_list<QAbstractItemModel*>{&points, &alarms, &events})
        testers_.push_back(std::make_unique<QAbstractItemModelTester>(
            model, QAbstractItemModelTester::FailureReportingMode::Fatal));
}

PipelineTest::~PipelineTest() = default;

void PipelineTest::Report(std::uint32_t serial, std::uint16_t flags, std::uint8_t source, std::uint8_t key0)
{
    const auto frame = MakeFrame(serial, flags, key0);
    pipeline.AcceptReport(frame, source);
}

void PipelineTest::Flush()
{
    points.Flush();
    alarms.Flush();
    events.Flush();
}

QStringList ListRows(const QAbstractItemModel& model)
{
    QStringList rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model.columnCount(); ++c)
            cells << model.index(r, c).data().toString();
        rows << cells.join(QStringLiteral(" | "));
    }
    return rows;
}

std::vector<std::uint8_t> PipelineTest::TodayCodes() const
{
    std::vector<std::uint8_t> codes;
    for (const auto& e : base.todayEvents())
        codes.push_back(e.code);
    return codes;
}

T_EVENT MakeEvent(std::uint32_t serial, std::uint8_t source, std::uint8_t code, std::int64_t time)
{
    T_EVENT event;
    event.serial = serial;
    event.source = source;
    event.code = code;
    event.time = time;
    return event;
}

void MapModemPorts(const std::map<int, std::string>& ports)
{
    CSettingsStore store(QString::fromUtf16(Settings::kServerProgram));
    for (int n = 0; n < 10; ++n) {
        const auto it = ports.find(n);
        const QString path = it != ports.end() ? QString::fromStdString(it->second)
                                               : QStringLiteral("/nonexistent/ttyCOM%1").arg(n);
        store.WriteString(QString::fromUtf16(Settings::kPortsSection), QStringLiteral("COM%1").arg(n), path);
    }
}
