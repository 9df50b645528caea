#include "common/manual_clock.h"
#include "server/model/point_base.h"
#include "server/storage/register_file.h"
#include "tests/support/temp_env.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kNoon = 1765357200;

QByteArray Utf16(const QString& s) { return QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2); }

class RegisterTest : public ::testing::Test
{
protected:
    void Write(const QByteArray& bytes)
    {
        QFile file(RegisterPath(base));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QByteArray Read() const
    {
        QFile file(RegisterPath(base));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void ExpectConsistent() const
    {
        const auto n = static_cast<std::size_t>(base.count());
        EXPECT_EQ(base.names().size(), n);
        EXPECT_EQ(base.descriptions().size(), n);
        EXPECT_EQ(base.phones().size(), n);
        EXPECT_EQ(base.lastReports().size(), n);
        for (const auto& r : base.lastReports()) {
            EXPECT_EQ(r.source, 0);
            EXPECT_EQ(r.received, 0);
        }
    }

    CManualClock clock{kNoon};
    CPointBase base{clock, MakeTempFolder()};
};

const QByteArray kOnePoint = QByteArray::fromHex("01000000" "40E20100" "0100" "FFFEFF00" "0100" "FFFEFF00" "0100" "FFFEFF10")
    + Utf16(QStringLiteral("+7(000)000-00-00"));

} // namespace

TEST_F(RegisterTest, EmptyRegisterIsTenBytes)
{
    ASSERT_TRUE(SaveRegister(base));
    EXPECT_EQ(Read(), QByteArray::fromHex("00000000" "0000" "0000" "0000"));
}

TEST_F(RegisterTest, OnePointAsWrittenAndReadBack)
{
    base.AddPoint(123456);
    ASSERT_TRUE(SaveRegister(base));
    EXPECT_EQ(Read(), kOnePoint);

    CPointBase loaded(clock, base.baseFolder());
    EXPECT_EQ(LoadRegister(loaded).status, RegisterLoadResult::Loaded);
    EXPECT_EQ(loaded.serials(), std::vector<std::uint32_t>{123456});
    EXPECT_EQ(loaded.Phone(0), QStringLiteral("+7(000)000-00-00"));
    EXPECT_EQ(loaded.FindPoint(123456), 0);
}

TEST_F(RegisterTest, StringLengthForms)
{
    struct Case { int units; QByteArray lengthBytes; };
    const Case cases[] = {
        {0, QByteArray::fromHex("00")},
        {254, QByteArray::fromHex("FE")},
        {255, QByteArray::fromHex("FFFF00")},
        {300, QByteArray::fromHex("FF2C01")},
        {0xFFFD, QByteArray::fromHex("FFFDFF")},
        {0xFFFE, QByteArray::fromHex("FFFFFFFEFF0000")},
        {70000, QByteArray::fromHex("FFFFFF70110100")},
    };
    for (const auto& c : cases) {
        CPointBase b(clock, base.baseFolder());
        b.AddPoint(1);
        b.SetName(0, QString(c.units, QChar(u'Ж')));
        const QByteArray bytes = SerializeRegister(b);
        const QByteArray expectedStart = QByteArray::fromHex("01000000" "01000000" "0100" "FFFEFF") + c.lengthBytes;
        EXPECT_TRUE(bytes.startsWith(expectedStart)) << c.units;
        const auto parsed = ParseRegister(bytes);
        ASSERT_TRUE(parsed.ok) << c.units;
        EXPECT_EQ(parsed.contents.names.at(0), b.names()[0]) << c.units;
    }
}

TEST_F(RegisterTest, LoadThenSaveReproducesTheFileByteForByte)
{
    CPointBase b(clock, base.baseFolder());
    for (std::uint32_t s : {5u, 0xFFFFFFFFu, 123456u}) {
        b.AddPoint(s);
    }
    b.SetName(0, QStringLiteral("Сбербанк, Тверская 1"));
    b.SetDescription(1, QStringLiteral("Строка 1\r\nСтрока 2"));
    b.SetPhone(2, QStringLiteral("9101234567"));
    b.SetName(2, QString(400, QChar(u'я')));
    ASSERT_TRUE(SaveRegister(b));
    const QByteArray original = Read();
    EXPECT_EQ(LoadRegister(base).status, RegisterLoadResult::Loaded);
    ExpectConsistent();
    QFile::remove(RegisterPath(base));
    ASSERT_TRUE(SaveRegister(base));
    EXPECT_EQ(Read(), original);
}

TEST_F(RegisterTest, SingleByteStringsAreRead)
{
    // Names written without the UTF-16 marker hold Latin-1 bytes; a long
    // one uses the FF + u16 length form.
    const QByteArray longName(300, 'x');
    Write(QByteArray::fromHex("02000000" "01000000" "02000000" "0200" "03414243") + QByteArray::fromHex("FF2C01") + longName
          + QByteArray::fromHex("0200" "00" "01E9" "0200" "00" "00"));
    EXPECT_EQ(LoadRegister(base).status, RegisterLoadResult::Loaded);
    EXPECT_EQ(base.names()[0], QStringLiteral("ABC"));
    EXPECT_EQ(base.names()[1], QString::fromLatin1(longName));
    EXPECT_EQ(base.descriptions()[1], QStringLiteral("é"));
    ExpectConsistent();
}

TEST_F(RegisterTest, MissingFileLeavesTheRegisterAsItWas)
{
    base.AddPoint(42);
    EXPECT_EQ(LoadRegister(base).status, RegisterLoadResult::NoFile);
    EXPECT_EQ(base.count(), 1);
}

TEST_F(RegisterTest, EveryTruncationLoadsConsistentlyAndKeepsACopy)
{
    CPointBase b(clock, base.baseFolder());
    b.AddPoint(1);
    b.AddPoint(2);
    b.SetName(0, QStringLiteral("Первая"));
    b.SetName(1, QStringLiteral("Вторая"));
    b.SetDescription(1, QStringLiteral("описание"));
    const QByteArray full = SerializeRegister(b);
    for (qsizetype length = 0; length < full.size(); ++length) {
        for (const QString& f : QDir(base.baseFolder()).entryList(QDir::Files))
            QFile::remove(base.baseFolder() + QLatin1Char('/') + f);
        Write(full.left(length));
        CPointBase loaded(clock, base.baseFolder());
        const auto result = LoadRegister(loaded);
        ASSERT_EQ(result.status, RegisterLoadResult::Damaged) << length;
        EXPECT_FALSE(result.message.isEmpty());
        ASSERT_FALSE(result.copyPath.isEmpty()) << length;
        QFile copy(result.copyPath);
        ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
        EXPECT_EQ(copy.readAll(), full.left(length));
        const auto n = static_cast<std::size_t>(loaded.count());
        EXPECT_LE(n, 2u);
        EXPECT_EQ(loaded.names().size(), n);
        EXPECT_EQ(loaded.descriptions().size(), n);
        EXPECT_EQ(loaded.phones().size(), n);
        EXPECT_EQ(loaded.lastReports().size(), n);
        // Points whose serial was read keep what was read of them.
        if (n == 2 && length >= 8 + 2 + 6 + 4 + 12) {
            EXPECT_EQ(loaded.names()[0], QStringLiteral("Первая"));
        }
    }
}

TEST_F(RegisterTest, AbsurdCountsAreNotBelieved)
{
    const QByteArray cases[] = {
        QByteArray::fromHex("FFFFFFFF01000000"),                      // 4 billion points, one serial
        QByteArray::fromHex("00000000" "FFFF" "FFFFFFFF" "00"),           // a list of 4 billion strings
        QByteArray::fromHex("01000000" "01000000" "0100" "FFFEFFFFFFFFFFFFFFFF"), // 64-bit length
        QByteArray::fromHex("01000000" "01000000" "0100" "FFFEFFFFFEFF"),         // marker twice
        QByteArray::fromHex("01000000" "01000000" "0200" "00" "00" "0100" "00" "0100" "00"), // lists longer than N
    };
    for (const auto& bytes : cases) {
        const auto parsed = ParseRegister(bytes);
        EXPECT_FALSE(parsed.ok) << bytes.toHex().constData();
        Write(bytes);
        CPointBase loaded(clock, base.baseFolder());
        EXPECT_EQ(LoadRegister(loaded).status, RegisterLoadResult::Damaged);
        EXPECT_LE(loaded.count(), 1);
        EXPECT_EQ(loaded.phones().size(), static_cast<std::size_t>(loaded.count()));
    }
}
