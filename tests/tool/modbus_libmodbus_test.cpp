// The Modbus RTU master against libmodbus as an independent slave, running
// on the master side of a pseudo-terminal in a thread of the test.
#include "tool/modbus/local_modbus.h"

#include <gtest/gtest.h>
#include <modbus/modbus.h>

#include <atomic>
#include <functional>
#include <cerrno>
#include <thread>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kHoldingRegisters = 128;
constexpr int kInputRegisters = 11;

class LibmodbusSlave
{
public:
    LibmodbusSlave()
    {
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&master_, &slave_, name, &raw, nullptr) != 0)
            return;
        ::close(slave_);
        path_ = name;
        // libmodbus needs no line settings on the master side of a pty: it
        // is given the descriptor instead of connecting.
        ctx_ = modbus_new_rtu("/dev/null", 115200, 'N', 8, 1);
        modbus_set_slave(ctx_, 1);
        modbus_set_socket(ctx_, master_);
        modbus_set_indication_timeout(ctx_, 0, 50000);
        // libmodbus sleeps its response time-out before some exception
        // replies; keep that well inside the master's.
        modbus_set_response_timeout(ctx_, 0, 50000);
        mapping_ = modbus_mapping_new_start_address(0, 0, 0, 0, 0, kHoldingRegisters, 0, kInputRegisters);
        for (int n = 0; n < kHoldingRegisters; ++n)
            mapping_->tab_registers[n] = static_cast<std::uint16_t>(0x1000 + n);
        for (int n = 0; n < kInputRegisters; ++n)
            mapping_->tab_input_registers[n] = static_cast<std::uint16_t>(0xA000 + n);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LibmodbusSlave()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (mapping_)
            modbus_mapping_free(mapping_);
        if (ctx_)
            modbus_free(ctx_);
        if (master_ >= 0)
            ::close(master_);
    }

    const std::string& Path() const { return path_; }
    // Read after the master's exchange returned: the reply was sent after the write.
    std::uint16_t Holding(int n) const { return mapping_->tab_registers[n]; }
    int Requests() const { return requests_; }

private:
    void Serve()
    {
        std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop_) {
            const int length = modbus_receive(ctx_, query);
            if (length > 0) {
                ++requests_;
                modbus_reply(ctx_, query, length, mapping_);
            }
        }
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* mapping_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

class LibmodbusTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(peer.Path().empty());
        master.responseTimeout = 300;
        ASSERT_TRUE(master.Open(QString::fromStdString(peer.Path()), 0, 115200));
    }

    LibmodbusSlave peer;
    CLocalModbus master;
};

TEST_F(LibmodbusTest, TheThreeFunctionsWork)
{
    std::vector<std::uint16_t> values;
    ASSERT_EQ(master.ReadHoldingRegisters(64, 64, values), MB_OK);
    ASSERT_EQ(values.size(), 64u);
    EXPECT_EQ(values[0], 0x1040);
    EXPECT_EQ(values[63], 0x107F);

    ASSERT_EQ(master.ReadInputRegisters(11, values), MB_OK);
    EXPECT_EQ(values[0], 0xA000);
    EXPECT_EQ(values[10], 0xA00A);

    std::vector<std::uint16_t> block(64);
    for (int k = 0; k < 64; ++k)
        block[k] = static_cast<std::uint16_t>(0xC000 + k);
    ASSERT_EQ(master.WriteMultipleRegisters(64, 0, block), MB_OK);
    for (int k = 0; k < 64; ++k)
        EXPECT_EQ(peer.Holding(k), block[k]) << k;
    EXPECT_EQ(peer.Holding(64), 0x1040);   // the write stopped where it should
    EXPECT_EQ(peer.Requests(), 3);
}

TEST_F(LibmodbusTest, ExceptionRepliesBecome0x8000PlusTheCode)
{
    struct Case
    {
        const char* name;
        std::function<std::uint16_t()> request;
        std::uint16_t code;
        const char* text;
    };
    std::vector<std::uint16_t> values(64);
    const Case cases[] = {
        {"holding beyond the map", [&] { return master.ReadHoldingRegisters(64, 100, values); }, 0x8002,
         "Modbus device return an exception code 2"},
        {"input beyond the map", [&] { return master.ReadInputRegisters(12, values); }, 0x8002,
         "Modbus device return an exception code 2"},
        {"write beyond the map", [&] { return master.WriteMultipleRegisters(64, 100, values); }, 0x8002,
         "Modbus device return an exception code 2"},
        {"more than 125 registers", [&] { return master.ReadHoldingRegisters(126, 0, values); }, 0x8003,
         "Modbus device return an exception code 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::uint16_t code = c.request();
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(master.ErrorMessage(code), QString::fromLatin1(c.text));
    }
}

TEST_F(LibmodbusTest, RepeatedExchangesStayInStep)
{
    std::vector<std::uint16_t> values;
    for (int i = 0; i < 50; ++i) {
        const auto start = static_cast<std::uint16_t>(i % 64);
        ASSERT_EQ(master.ReadHoldingRegisters(64, start, values), MB_OK) << i;
        EXPECT_EQ(values[0], 0x1000 + start);
    }
}

} // namespace
