// The setup tool's windows against the controller emulator on a
// pseudo-terminal: settings cleared, the stored port leading to the emulator.
#pragma once

#include "common/settings_store.h"
#include "sim/controller_registers.h"
#include "sim/modbus_slave.h"
#include "sim/modbus_slave_link.h"
#include "tool/ui/tesmark_dlg.h"

#include <QSettings>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

class CControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSettings(QString::fromUtf16(Settings::kOrganisation), QString::fromUtf16(Settings::kToolProgram)).clear();
        registers.FreezeReadings(true);
        ASSERT_TRUE(link.StartOnPty());
        Store().WriteString(Rs232(), QString::fromUtf16(Settings::kRs232Port), QString::fromStdString(link.Path()));
        // The port dialog probes no serial device of the machine.
        for (int n = 0; n < 10; ++n)
            Store().WriteString(QString::fromUtf16(Settings::kPortsSection), QStringLiteral("COM%1").arg(n),
                                QStringLiteral("/nonexistent/com%1").arg(n));
    }

    static CSettingsStore Store() { return CSettingsStore(QString::fromUtf16(Settings::kToolProgram)); }
    static QString Rs232() { return QString::fromUtf16(Settings::kRs232Section); }

    // The main window with the controller's settings read; the SMS editor
    // writes without waiting for its tick; no machine's devices are probed.
    std::unique_ptr<CTesmarkDlg> OpenLoaded()
    {
        auto dlg = std::make_unique<CTesmarkDlg>();
        dlg->SetSmsWriteInterval(0);
        dlg->SetDevicePatterns({});
        dlg->Device().PollStatus();
        EXPECT_TRUE(dlg->Device().settingsLoaded);
        return dlg;
    }

    // Holding registers as bytes, high byte first.
    QByteArray HoldingBytes(std::uint16_t start, std::uint16_t count) const
    {
        QByteArray bytes;
        for (std::uint16_t n = start; n < start + count; ++n) {
            bytes.append(static_cast<char>(registers.Holding(n) >> 8));
            bytes.append(static_cast<char>(registers.Holding(n) & 0xFF));
        }
        return bytes;
    }
    void SetHoldingBytes(std::uint16_t start, const QByteArray& bytes)
    {
        for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
            registers.SetHolding(static_cast<std::uint16_t>(start + i / 2),
                                 static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[i]) << 8 |
                                                            static_cast<std::uint8_t>(bytes[i + 1])));
    }

    template <typename T = QWidget>
    static T* Find(const QWidget& parent, const char* name)
    {
        auto* widget = parent.findChild<T*>(QLatin1StringView(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    CControllerRegisters registers;
    CModbusSlave slave{registers};
    CModbusSlaveLink link{slave};
};
