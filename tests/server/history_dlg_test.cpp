#include "common/manual_clock.h"
#include "common/settings_store.h"
#include "server/model/event_codes.h"
#include "server/model/point_base.h"
#include "server/storage/day_journal.h"
#include "server/storage/register_file.h"
#include "server/ui/history_dlg.h"
#include "tests/server/modal_answers.h"
#include "tests/server/qstring_printer.h"
#include "tests/server/server_fixture.h"
#include "tests/support/temp_env.h"

#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QTableView>

namespace {

// 05 Sep 2011 at hh:mm in the tests' time zone.
std::int64_t At(int day, int month, int hour, int minute)
{
    return QDateTime(QDate(2011, month, day), QTime(hour, minute)).toSecsSinceEpoch();
}

QByteArray Utf16Le(const QString& text)
{
    QByteArray bytes;
    for (const QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

class HistoryDlgTest : public ::testing::Test
{
protected:
    HistoryDlgTest()
    {
        CSettingsStore(QString::fromUtf16(Settings::kServerProgram))
            .WriteString(QString::fromUtf16(Settings::kSettingSection), QString::fromUtf16(Settings::kBaseFolder),
                         folder);
        CPointBase points(clock, folder);
        points.AddPoint(123456);
        points.SetName(0, QStringLiteral("Склад 1"));
        points.AddPoint(5);
        EXPECT_TRUE(SaveRegister(points));
        WriteDay(QStringLiteral("05Sep2011"), {
                                                  MakeEvent(0, SRC_SYSTEM, EV_SERVER_STARTED, At(5, 9, 8, 30)),
                                                  MakeEvent(123456, SRC_GPRS, EV_SHOCK, At(5, 9, 9, 5)),
                                                  MakeEvent(777, SRC_SMS, EV_SAFE_OPEN, At(5, 9, 10, 0)), // deleted since
                                              });
        WriteDay(QStringLiteral("28Aug2011"), {MakeEvent(5, SRC_GPRS, EV_ARMED, At(28, 8, 23, 59))});
    }

    void WriteDay(const QString& date, const std::vector<T_EVENT>& events)
    {
        EXPECT_TRUE(CDayJournal::WriteDayFile(folder + QLatin1Char('/') + date + QStringLiteral("Day.base"), events));
    }

    static QStringList Dates(QComboBox* box)
    {
        QStringList dates;
        for (int i = 0; i < box->count(); ++i)
            dates << box->itemText(i);
        return dates;
    }

    QString folder = MakeTempFolder();
    CManualClock clock{kNoon};
};

} // namespace

TEST(HistoryDates, DayFilesNewestFirstAndMalformedNamesSkipped)
{
    const QStringList names = {
        QStringLiteral("28Aug2011Day.base"), QStringLiteral("SerialBase.base"),   QStringLiteral("05Sep2011Day.base"),
        QStringLiteral("5Sep2011Day.base"),  QStringLiteral("31Feb2011Day.base"), QStringLiteral("05Sep1899Day.base"),
        QStringLiteral("05sep2011Day.base"), QStringLiteral("05Sep2011day.base"), QStringLiteral("Day.base"),
        QStringLiteral("05Sep2011XDay.base"), QStringLiteral("29Feb2012Day.base"), QStringLiteral("12Mar2010Day.base"),
    };
    EXPECT_EQ(CHistoryDlg::DateList(names), (QStringList{QStringLiteral("29 Feb 2012"), QStringLiteral("05 Sep 2011"),
                                                         QStringLiteral("28 Aug 2011"), QStringLiteral("12 Mar 2010")}));
    EXPECT_EQ(CHistoryDlg::DateList({}), QStringList());
}

TEST_F(HistoryDlgTest, TheNewestDayIsShownNewestEventFirst)
{
    // A file whose name gives no date hides no other day.
    WriteDay(QStringLiteral("5Sep2011"), {});
    WriteDay(QStringLiteral("31Feb2011"), {});
    CHistoryDlg dialog(clock);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Журнал событий"));
    for (auto [name, id] : {std::pair{"dateBox", 1017}, {"saveButton", 3}, {"cancelButton", 2}, {"eventList", 1005}})
        EXPECT_EQ(dialog.findChild<QWidget*>(QString::fromLatin1(name))->property("controlId").toInt(), id) << name;
    auto* box = dialog.findChild<QComboBox*>(QStringLiteral("dateBox"));
    EXPECT_EQ(Dates(box), (QStringList{QStringLiteral("05 Sep 2011"), QStringLiteral("28 Aug 2011")}));
    EXPECT_EQ(box->currentIndex(), 0);
    EXPECT_EQ(ListRows(dialog.events()), (QStringList{
                                             QStringLiteral("0000 - 0309 | SMS: Сработал датчик открытия сейфа | 05-Sep-2011 | 10:00"),
                                             QStringLiteral("Склад 1 | GPRS: Сработал датчик удара | 05-Sep-2011 | 09:05"),
                                             QStringLiteral("Сервис | СИСТЕМА: Сервер запущен | 05-Sep-2011 | 08:30"),
                                         }));
    EXPECT_EQ(dialog.events().index(2, 0).data(CTopInsertModel::IconIndexRole).toInt(), ICON_SYSTEM);
    EXPECT_EQ(dialog.events().index(1, 0).data(CTopInsertModel::IconIndexRole).toInt(), ICON_ALARM);

    auto* view = dialog.findChild<QTableView*>(QStringLiteral("eventList"));
    EXPECT_EQ(view->model(), &dialog.events());
    const int usable = view->contentsRect().width() - 16;
    const int shares[] = {20, 58, 12, 10};
    for (int column = 0; column < 4; ++column)
        EXPECT_EQ(view->columnWidth(column), usable * shares[column] / 100) << column;

    // The other day; the register is read afresh for it.
    CPointBase points(clock, folder);
    ASSERT_EQ(LoadRegister(points).status, RegisterLoadResult::Loaded);
    points.SetName(1, QStringLiteral("Касса"));
    ASSERT_TRUE(SaveRegister(points));
    box->setCurrentIndex(1);
    EXPECT_EQ(ListRows(dialog.events()),
              QStringList{QStringLiteral("Касса | GPRS: Точка на охране | 28-Aug-2011 | 23:59")});
}

TEST_F(HistoryDlgTest, AFolderWithoutDayFilesShowsNothing)
{
    CSettingsStore(QString::fromUtf16(Settings::kServerProgram))
        .WriteString(QString::fromUtf16(Settings::kSettingSection), QString::fromUtf16(Settings::kBaseFolder),
                     MakeTempFolder());
    CHistoryDlg dialog(clock);
    EXPECT_EQ(dialog.findChild<QComboBox*>(QStringLiteral("dateBox"))->count(), 0);
    EXPECT_EQ(dialog.events().rowCount(), 0);
}

TEST_F(HistoryDlgTest, ExportWritesTheDayAsUtf16TextAndOpensIt)
{
    CHistoryDlg dialog(clock);
    QStringList opened;
    dialog.openFile = [&](const QString& path) { opened << path; };
    const QString target = MakeTempFolder() + QStringLiteral("/день.txt");

    // Cancelled: nothing written, nothing opened.
    WhenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    dialog.findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
    EXPECT_TRUE(opened.isEmpty());

    WhenModal([&](QWidget* modal) {
        auto* files = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(files, nullptr);
        EXPECT_EQ(files->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(files->nameFilters(), QStringList{QStringLiteral("Text file (*.txt)")});
        files->selectFile(target);
        static_cast<QDialog*>(files)->accept();
    });
    dialog.findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
    ASSERT_EQ(opened, QStringList{target});
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    // File order, no source prefix; the server and the deleted point have no name.
    const QByteArray expected = Utf16Le(QStringLiteral("05-Sep-2011 08:30  \tСервер запущен\r\n"
                                                       "05-Sep-2011 09:05 Склад 1 \tСработал датчик удара\r\n"
                                                       "05-Sep-2011 10:00  \tСработал датчик открытия сейфа\r\n"));
    EXPECT_EQ(bytes.toHex(' '), expected.toHex(' '));
    EXPECT_EQ(bytes.left(4), QByteArray("0\0005\000", 4)); // no byte-order mark
}

TEST(HistoryExport, OneLineOfAPointNamedSklad1)
{
    T_EVENT event;
    event.code = EV_SAFE_OPEN;
    event.source = SRC_GPRS;
    event.time = QDateTime(QDate(2011, 9, 5), QTime(14, 7)).toSecsSinceEpoch();
    event.serial = 123456;
    EXPECT_EQ(CHistoryDlg::ExportLine(event, QStringLiteral("Склад 1")),
              QStringLiteral("05-Sep-2011 14:07 Склад 1 \tСработал датчик открытия сейфа\r\n"));
}
