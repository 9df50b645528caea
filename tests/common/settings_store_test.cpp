#include "common/settings_store.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <gtest/gtest.h>

TEST(SettingsStore, DefaultsWhenNothingIsStored)
{
    const CSettingsStore store(QStringLiteral("StoreTestEmpty"));
    EXPECT_EQ(store.GetInt(QStringLiteral("IP setting"), QStringLiteral("IP port"), 49275), 49275);
    EXPECT_EQ(store.GetString(QStringLiteral("Setting"), QStringLiteral("Base folder"), QString()), QString());
}

TEST(SettingsStore, WrittenValuesAreReadBackUnderTheOrganisationAndProgram)
{
    CSettingsStore store(QStringLiteral("StoreTestRoundTrip"));
    store.WriteInt(QStringLiteral("RS232"), QStringLiteral("RS232 baudrate"), 9600);
    store.WriteString(QStringLiteral("RS232"), QStringLiteral("RS232 port"), QStringLiteral("COM3"));
    store.WriteString(QStringLiteral("Setting"), QStringLiteral("Base folder"), QStringLiteral("/data/база"));

    const CSettingsStore again(QStringLiteral("StoreTestRoundTrip"));
    EXPECT_EQ(again.GetInt(QStringLiteral("RS232"), QStringLiteral("RS232 baudrate"), 0), 9600);
    EXPECT_EQ(again.GetString(QStringLiteral("RS232"), QStringLiteral("RS232 port"), QString()), QStringLiteral("COM3"));
    EXPECT_EQ(again.GetString(QStringLiteral("Setting"), QStringLiteral("Base folder"), QString()),
              QStringLiteral("/data/база"));

    const QSettings raw(QStringLiteral("Ostrel"), QStringLiteral("StoreTestRoundTrip"));
    EXPECT_TRUE(QFile::exists(raw.fileName()));
    EXPECT_TRUE(raw.fileName().startsWith(QDir::homePath()));
}

TEST(SettingsStore, UnreadableIntegerFallsBackToDefault)
{
    CSettingsStore store(QStringLiteral("StoreTestBadInt"));
    store.WriteString(QStringLiteral("IP setting"), QStringLiteral("IP port"), QStringLiteral("12ab"));
    EXPECT_EQ(store.GetInt(QStringLiteral("IP setting"), QStringLiteral("IP port"), 49275), 49275);
}
