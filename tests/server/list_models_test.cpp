#include "tests/server/server_fixture.h"

#include "server/model/event_codes.h"
#include "server/model/report_frame.h"

#include <QSignalSpy>

TEST_F(PipelineTest, NewRowsReachViewsInBatchesNewestOnTop)
{
    QSignalSpy inserted(&events, &QAbstractItemModel::rowsInserted);
    for (std::uint32_t serial = 1; serial <= 50; ++serial)
        Report(serial);
    // The pipeline sees every row at once; views have not been told yet.
    EXPECT_EQ(events.Size(), 100);
    EXPECT_EQ(events.rowCount(), 0);
    EXPECT_EQ(points.FindRow(50), 49);

    // The announcement timer tells the views in one insertion.
    ASSERT_TRUE(inserted.wait(2000));
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 0);
    EXPECT_EQ(inserted[0][2].toInt(), 99);
    EXPECT_EQ(events.rowCount(), 100);
    EXPECT_TRUE(Rows(events).front().startsWith(QStringLiteral("0000 - 0032 | GPRS: Точка обнаружена")));
    EXPECT_TRUE(Rows(events).back().startsWith(QStringLiteral("0000 - 0001 | GPRS: Обнаружена не")));

    // Later rows go on top of those already shown.
    Report(51);
    Flush();
    EXPECT_EQ(inserted.size(), 2);
    EXPECT_EQ(events.rowCount(), 102);
    EXPECT_TRUE(Rows(events).front().startsWith(QStringLiteral("0000 - 0033")));
}

TEST_F(PipelineTest, ChangesOfShownRowsAreAnnouncedAsDataChanged)
{
    Report(1);
    Report(2);
    Flush();
    QSignalSpy changed(&points, &QAbstractItemModel::dataChanged);
    Report(1, RF_SHOCK);
    Flush();
    ASSERT_EQ(changed.size(), 1);
    const auto top = changed[0][0].value<QModelIndex>();
    const auto bottom = changed[0][1].value<QModelIndex>();
    EXPECT_LE(top.row(), 1);
    EXPECT_GE(bottom.row(), 1); // point 1 is the second row from the top
    EXPECT_EQ(Rows(points).at(1), QStringLiteral("0000 - 0001 | Сработал датчик удара"));
}

TEST_F(PipelineTest, HeadersAndIconsOfTheLists)
{
    auto headers = [](const QAbstractItemModel& m) {
        QStringList h;
        for (int c = 0; c < m.columnCount(); ++c)
            h << m.headerData(c, Qt::Horizontal).toString();
        return h;
    };
    EXPECT_EQ(headers(points), (QStringList{QStringLiteral("Точка"), QStringLiteral("Последнее событие")}));
    EXPECT_EQ(headers(alarms), (QStringList{QStringLiteral("Точка"), QStringLiteral("Тревога"), QStringLiteral("Время")}));
    EXPECT_EQ(headers(events), (QStringList{QStringLiteral("Точка"), QStringLiteral("Событие"), QStringLiteral("Дата"), QStringLiteral("Время")}));

    std::vector<QIcon> icons;
    for (int i = 0; i < ICON_COUNT; ++i) {
        QPixmap pixmap(16, 16);
        pixmap.fill(QColor(i * 20, 0, 0));
        icons.emplace_back(pixmap);
    }
    events.SetIcons(icons);
    alarms.SetIcons(icons);
    Report(1, RF_TILT_Y);
    Flush();
    const QIcon shown = events.index(0, 0).data(Qt::DecorationRole).value<QIcon>();
    EXPECT_EQ(shown.cacheKey(), icons[ICON_ALARM].cacheKey());
    EXPECT_FALSE(alarms.index(0, 0).data(Qt::DecorationRole).isValid());
}
