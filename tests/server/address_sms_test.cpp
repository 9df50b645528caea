#include "server/core/address_sms.h"
#include "tests/server/qstring_printer.h"

#include <gtest/gtest.h>

TEST(AddressSms, PayloadIsTheAddressAsTwoLittleEndianWordsThenThePort)
{
    const AddressSmsCheck check = CheckAddressSms(QStringLiteral("10.0.1.2"), 49275);
    ASSERT_EQ(check.verdict, AddressSmsCheck::Ready);
    EXPECT_EQ(check.payload, (AddressPayload{0x00, 0x0A, 0x02, 0x01, 0x7B, 0xC0}));
    EXPECT_EQ(BuildAddressPayload({192, 168, 255, 7}, 1), (AddressPayload{168, 192, 7, 255, 0x01, 0x00}));
}

TEST(AddressSms, OnlyAWellFormedAddressAndA16BitPortMakeAMessage)
{
    const struct
    {
        const char* address;
        std::uint32_t port;
        AddressSmsCheck::Verdict verdict;
    } cases[] = {
        {"10.0.1.2\n", 49275, AddressSmsCheck::Ready}, // the service's line break
        {" 10.0.1.2\r\n", 49275, AddressSmsCheck::Ready},
        {"255.255.255.255", 65535, AddressSmsCheck::Ready},
        {"0.0.0.0", 1, AddressSmsCheck::Ready},
        {"", 49275, AddressSmsCheck::NoAddress},
        {" \n", 49275, AddressSmsCheck::NoAddress},
        {"10.0.1", 49275, AddressSmsCheck::BadAddress},
        {"10.0.1.2.3", 49275, AddressSmsCheck::BadAddress},
        {"256.0.1.2", 49275, AddressSmsCheck::BadAddress},
        {"10.0.1.2x", 49275, AddressSmsCheck::BadAddress},
        {"10..1.2", 49275, AddressSmsCheck::BadAddress},
        {".10.0.1.2", 49275, AddressSmsCheck::BadAddress},
        {"10.0.1.", 49275, AddressSmsCheck::BadAddress},
        {"0010.0.1.2", 49275, AddressSmsCheck::BadAddress},
        {"10.0 .1.2", 49275, AddressSmsCheck::BadAddress},
        {"2001:db8::1", 49275, AddressSmsCheck::BadAddress},
        {"<html>10.0.1.2</html>", 49275, AddressSmsCheck::BadAddress},
        {"10.0.1.2", 0, AddressSmsCheck::BadPort},
        {"10.0.1.2", 65536, AddressSmsCheck::BadPort},
        {"10.0.1.2", 4294967295u, AddressSmsCheck::BadPort},
    };
    for (const auto& c : cases) {
        const AddressSmsCheck check = CheckAddressSms(QString::fromLatin1(c.address), c.port);
        EXPECT_EQ(check.verdict, c.verdict) << c.address << " " << c.port;
    }
    EXPECT_EQ(ParseDottedIpv4(QStringLiteral("10.0.1.2\n")), (Ipv4Address{10, 0, 1, 2}));
    EXPECT_EQ(ParseDottedIpv4(QStringLiteral("１0.0.1.2")), std::nullopt); // digits of other scripts are no digits
}
