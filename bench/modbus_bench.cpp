// Round trips of the Modbus master against the controller emulator on a
// pseudo-terminal, where the line costs nothing: what remains is the
// master's and the emulator's own time, so any wait the master added beyond
// the line's would show here.
#include "sim/controller_registers.h"
#include "sim/modbus_slave.h"
#include "sim/modbus_slave_link.h"
#include "tool/modbus/local_modbus.h"

#include <QString>

#include <benchmark/benchmark.h>

namespace {

// The tool's own settings: 300 ms response time-out, one attempt.
struct Line
{
    Line(std::uint32_t baudRate)
    {
        link.StartOnPty();
        master.responseTimeout = 300;
        master.attempts = 1;
        master.Open(QString::fromStdString(link.Path()), 0, baudRate);
    }
    CControllerRegisters registers;
    CModbusSlave slave{registers};
    CModbusSlaveLink link{slave};
    CLocalModbus master;
};

void BM_Read64Registers(benchmark::State& state)
{
    Line line(static_cast<std::uint32_t>(state.range(0)));
    std::vector<std::uint16_t> values(64);
    for (auto _ : state) {
        if (line.master.ReadHoldingRegisters(64, 0, values) != MB_OK) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(values.data());
    }
    state.counters["round_trips/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Read64Registers)->Arg(9600)->Arg(115200)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The settings read of the tool's poll cycle: registers 0 .. 63, then 64 .. 127.
void BM_ReadSettings(benchmark::State& state)
{
    Line line(static_cast<std::uint32_t>(state.range(0)));
    std::vector<std::uint16_t> first(64);
    std::vector<std::uint16_t> second(64);
    for (auto _ : state) {
        if (line.master.ReadHoldingRegisters(64, 0, first) != MB_OK ||
            line.master.ReadHoldingRegisters(64, 64, second) != MB_OK) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(second.data());
    }
}
BENCHMARK(BM_ReadSettings)->Arg(9600)->Arg(115200)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_Write64Registers(benchmark::State& state)
{
    Line line(115200);
    std::vector<std::uint16_t> values(64, 0x1234);
    for (auto _ : state) {
        if (line.master.WriteMultipleRegisters(64, 128, values) != MB_OK) {
            state.SkipWithError("write failed");
            break;
        }
    }
    state.counters["round_trips/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Write64Registers)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
