// ostrel-controller: the alarm controller as Modbus RTU slave 1, on a
// pseudo-terminal it creates or on a serial device, until SIGINT or SIGTERM.
#include "sim/controller_registers.h"
#include "sim/modbus_slave.h"
#include "sim/modbus_slave_link.h"
#include "sim/sim_options.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>

namespace {

QString Text(const char* latin1) { return QString::fromLatin1(latin1); }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(Text("ostrel-controller"));

    CSimOptions options(Text(
        "Alarm controller emulator: Modbus RTU slave 1 answering functions 3, 4 and 16.\n"
        "Holding registers 0..127 hold settings and keys, the SMS slots are 22 blocks of\n"
        "64 registers at 128 x (b + 1); input registers 0..10 hold live readings.\n"
        "Without --device it creates a pseudo-terminal and prints its path on the first\n"
        "line of standard output. Runs until SIGINT or SIGTERM."));
    const QCommandLineOption device(Text("device"), Text("Serve on this serial device instead of a new pseudo-terminal."), Text("path"));
    const QCommandLineOption link(Text("link"), Text("Also make a symbolic link to the pseudo-terminal at this path."), Text("path"));
    const QCommandLineOption baud(Text("baud"), Text("Line speed on --device (default 115200)."), Text("bit/s"), Text("115200"));
    const QCommandLineOption dataBits(Text("data-bits"), Text("Data bits on --device, 5..8 (default 8)."), Text("n"), Text("8"));
    const QCommandLineOption parity(Text("parity"), Text("Parity on --device: 0 none, 1 odd, 2 even, 3 mark, 4 space."), Text("n"), Text("0"));
    const QCommandLineOption load(Text("load"), Text("Load the holding registers from this register file."), Text("file"));
    const QCommandLineOption save(Text("save"), Text("Save the holding registers to this file after every write and at exit."), Text("file"));
    const QCommandLineOption key(Text("key"), Text("Present this key to the reader: 16 hexadecimal digits, bytes k0..k7."), Text("hex"));
    const QCommandLineOption frozen(Text("frozen"), Text("Keep the live readings still."));
    const QCommandLineOption silent(Text("silent"), Text("Fault: answer nothing."));
    const QCommandLineOption wrongAddress(Text("wrong-address"), Text("Fault: answer as slave 2."));
    const QCommandLineOption badCrc(Text("bad-crc"), Text("Fault: send replies with a wrong CRC."));
    const QCommandLineOption shortReply(Text("short-reply"), Text("Fault: send only the first n bytes of each reply."), Text("n"));
    const QCommandLineOption exception(Text("exception"), Text("Fault: answer every request with this exception code (1..255)."), Text("code"));
    const QCommandLineOption firstBlock(Text("first-block-only"), Text("Fault: leave reads of holding registers 64..127 (the second settings block) unanswered."));
    const QCommandLineOption functionByte(Text("function-byte"), Text("Fault: send this function byte in every reply."), Text("byte"));
    const QCommandLineOption byteCount(Text("byte-count-delta"), Text("Fault: add this to the byte count of read replies."), Text("n"));
    options.Add({device, link, baud, dataBits, parity, load, save, key, frozen, silent, wrongAddress,
                 badCrc, shortReply, exception, firstBlock, functionByte, byteCount});
    if (const auto status = options.Parse(QCoreApplication::arguments()); status != CSimOptions::Status::Run)
        return options.Finish(status);

    CControllerRegisters registers;
    std::string error;
    if (options.IsSet(load) && !registers.Load(options.Value(load).toStdString(), &error))
        return CSimOptions::Fail(QString::fromStdString(error));
    if (options.IsSet(key)) {
        CControllerRegisters::Key k{};
        if (!options.Key(key, &k))
            return CSimOptions::Fail(Text("--key takes 16 hexadecimal digits"));
        registers.PresentKey(k);
    }
    registers.FreezeReadings(options.IsSet(frozen));

    T_SLAVEFAULTS faults;
    faults.silent = options.IsSet(silent);
    faults.wrongAddress = options.IsSet(wrongAddress);
    faults.badCrc = options.IsSet(badCrc);
    faults.firstBlockOnly = options.IsSet(firstBlock);
    std::int64_t value = 0;
    if (options.IsSet(shortReply)) {
        if (!options.Number(shortReply, 1, 255, &value))
            return CSimOptions::Fail(Text("--short-reply takes 1..255"));
        faults.shortReply = static_cast<int>(value);
    }
    if (options.IsSet(exception)) {
        if (!options.Number(exception, 1, 255, &value))
            return CSimOptions::Fail(Text("--exception takes 1..255"));
        faults.exceptionCode = static_cast<std::uint8_t>(value);
    }
    if (options.IsSet(functionByte)) {
        if (!options.Number(functionByte, 0, 255, &value))
            return CSimOptions::Fail(Text("--function-byte takes 0..255"));
        faults.functionByte = static_cast<int>(value);
    }
    if (options.IsSet(byteCount)) {
        if (!options.Number(byteCount, -255, 255, &value))
            return CSimOptions::Fail(Text("--byte-count-delta takes -255..255"));
        faults.byteCountDelta = static_cast<int>(value);
    }

    CModbusSlave slave(registers);
    slave.SetFaults(faults);
    const std::string savePath = options.Value(save).toStdString();
    if (!savePath.empty()) {
        slave.SetWriteHook([&registers, savePath] {
            std::string saveError;
            if (!registers.Save(savePath, &saveError))
                std::fprintf(stderr, "ostrel-controller: %s\n", saveError.c_str());
        });
    }

    // The serving thread inherits the blocked signals; this thread waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    CModbusSlaveLink line(slave);
    if (options.IsSet(device)) {
        T_SERIALLINE settings;
        std::int64_t n = 0;
        if (!options.Number(baud, 1, 4000000, &n))
            return CSimOptions::Fail(Text("--baud is not a speed"));
        settings.baudRate = static_cast<std::uint32_t>(n);
        if (!options.Number(dataBits, 5, 8, &n))
            return CSimOptions::Fail(Text("--data-bits takes 5..8"));
        settings.dataBits = static_cast<std::uint8_t>(n);
        if (!options.Number(parity, 0, 4, &n))
            return CSimOptions::Fail(Text("--parity takes 0..4"));
        settings.parity = static_cast<std::uint8_t>(n);
        if (!line.StartOnDevice(options.Value(device).toStdString(), settings))
            return CSimOptions::Fail(Text("cannot serve on %1: %2")
                                         .arg(options.Value(device), QString::fromLocal8Bit(std::strerror(line.LastError()))));
    } else if (!line.StartOnPty()) {
        return CSimOptions::Fail(
            Text("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(line.LastError()))));
    }
    const QString linkPath = options.Value(link);
    if (!linkPath.isEmpty()) {
        QFile::remove(linkPath);
        if (!QFile::link(QString::fromStdString(line.Path()), linkPath))
            return CSimOptions::Fail(Text("cannot make the link %1").arg(linkPath));
    }
    std::printf("%s\n", line.Path().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    line.Stop();
    if (!linkPath.isEmpty())
        QFile::remove(linkPath);
    if (!savePath.empty() && !registers.Save(savePath, &error))
        return CSimOptions::Fail(QString::fromStdString(error));
    return 0;
}
