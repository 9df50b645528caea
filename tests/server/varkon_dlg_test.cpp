#include "common/manual_clock.h"
#include "common/settings_store.h"
#include "server/link/gprs_link.h"
#include "server/model/event_codes.h"
#include "server/model/report_frame.h"
#include "server/storage/register_file.h"
#include "server/ui/alert_window.h"
#include "server/ui/desktop_alert.h"
#include "server/ui/history_dlg.h"
#include "server/ui/setup_dlg.h"
#include "server/ui/varkon_dlg.h"
#include "tests/server/modal_answers.h"
#include "tests/server/server_fixture.h"
#include "tests/support/temp_env.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTableView>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <functional>

#include <sys/socket.h>

namespace {

const QString kSection = QString::fromUtf16(Settings::kIpSection);
const QString kPortValue = QString::fromUtf16(Settings::kIpPort);

CSettingsStore Store() { return CSettingsStore(QString::fromUtf16(Settings::kServerProgram)); }

QByteArray FrameBytes(std::uint32_t serial, std::uint16_t flags = 0)
{
    const auto frame = MakeFrame(serial, flags);
    return QByteArray(reinterpret_cast<const char*>(frame.data()), 64);
}

// A port that nothing listens on right now.
quint16 FreePort()
{
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    return probe.serverPort();
}

class VarkonDlgTest : public ::testing::Test
{
protected:
    VarkonDlgTest()
    {
        folder = MakeTempFolder();
        CSettingsStore store = Store();
        store.WriteString(kSection, kPortValue, QStringLiteral("0")); // any free port
        // The public address check asks a service that is not there.
        store.WriteString(kSection, QStringLiteral("IP service"), QStringLiteral("http://127.0.0.1:1/ip"));
        store.WriteString(QString::fromUtf16(Settings::kSettingSection), QString::fromUtf16(Settings::kBaseFolder),
                          folder);
        MapModemPorts({}); // the machine's own serial ports are left alone
        Start();
    }

    void Start() { window = std::make_unique<CVarkonDlg>(clock, &sound); }

    void Flush()
    {
        window->core().points().Flush();
        window->core().alarms().Flush();
        window->core().events().Flush();
    }

    QStringList EventRows()
    {
        Flush();
        return ListRows(window->core().events());
    }

    std::unique_ptr<QTcpSocket> Connect()
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QStringLiteral("127.0.0.1"), window->core().link().ListeningPort());
        EXPECT_TRUE(socket->waitForConnected(5000));
        return socket;
    }

    std::size_t Recorded() const { return window->core().pointBase().todayEvents().size(); }

    QString folder;
    CManualClock clock{kNoon};
    CRecordingSound sound;
    std::unique_ptr<CVarkonDlg> window;
};

} // namespace

TEST_F(VarkonDlgTest, StartsWithTheServiceRowAndItsControls)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Сервер мониторинга"));
    EXPECT_EQ(EventRows(), QStringList{QStringLiteral("Сервис | СИСТЕМА: Сервер запущен | 10-Dec-2025 | 12:00")});
    EXPECT_EQ(window->core().points().rowCount(), 0);
    EXPECT_EQ(window->core().alarms().rowCount(), 0);
    EXPECT_TRUE(window->core().link().IsListening());
    EXPECT_EQ(window->core().minuteTimer().interval(), 60000);
    EXPECT_TRUE(window->core().minuteTimer().isActive());
    for (auto [name, id] : {std::pair{"pointList", 1002}, {"alarmList", 1004}, {"eventList", 1005},
                            {"settingsButton", 1006}, {"cancelButton", 2}, {"statusText", 1003}}) {
        auto* control = window->findChild<QWidget*>(QString::fromLatin1(name));
        ASSERT_NE(control, nullptr) << name;
        EXPECT_EQ(control->property("controlId").toInt(), id) << name;
    }
    // Column shares of the client width (inside the frame) less 16 pixels.
    struct Shares { const char* list; std::vector<int> percents; };
    const Shares shares[] = {
        {"pointList", {32, 68}},
        {"alarmList", {30, 50, 20}},
        {"eventList", {15, 65, 10, 10}},
    };
    for (const auto& c : shares) {
        auto* view = window->findChild<QTableView*>(QString::fromLatin1(c.list));
        ASSERT_NE(view, nullptr) << c.list;
        ASSERT_GT(view->frameWidth(), 0) << c.list;
        const int usable = view->width() - 2 * view->frameWidth() - 16;
        ASSERT_EQ(view->model()->columnCount(), static_cast<int>(c.percents.size())) << c.list;
        for (int column = 0; column < static_cast<int>(c.percents.size()); ++column)
            EXPECT_EQ(view->columnWidth(column), usable * c.percents[static_cast<std::size_t>(column)] / 100)
                << c.list << " " << column;
    }
    auto* events = window->findChild<QTableView*>(QStringLiteral("eventList"));
    EXPECT_FALSE(events->model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
}

TEST_F(VarkonDlgTest, ReportsOverTcpBecomePointsEventsAndAlarms)
{
    auto socket = Connect();
    socket->write(FrameBytes(123456));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 1; }, 5000));
    socket->write(FrameBytes(123456, RF_SAFE_OPEN));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Recorded() == 4u; }, 5000));
    EXPECT_EQ(sound.played, QStringList{QStringLiteral("alarm.wav")});
    CAlertWindow* alert = window->desktopAlert().Current();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->windowTitle(), QStringLiteral(" \"ТРЕВОГА\"!!!"));
    Flush();
    EXPECT_EQ(window->core().alarms().rowCount(), 1);
    EXPECT_EQ(ListRows(window->core().points()), QStringList{QStringLiteral("0001 - E240 | Сработал датчик открытия сейфа")});

    // Closing the alert remembers where it was.
    alert->move(100, 120);
    alert->close();
    EXPECT_FALSE(window->core().pipeline().alertOpen());
    EXPECT_EQ(window->core().pipeline().alertPosition(), QPoint(100, 120));

    // A repeat records nothing.
    socket->write(FrameBytes(123456, RF_SAFE_OPEN));
    socket->write(FrameBytes(777)); // proves the repeat has been handled
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 2; }, 5000));
    EXPECT_EQ(Recorded(), 6u);
}

TEST_F(VarkonDlgTest, FramesAreFoundHoweverTheStreamIsCutAndGarbageIsSkipped)
{
    auto socket = Connect();
    const QByteArray first = FrameBytes(1);
    socket->write(first.left(20));
    ASSERT_TRUE(socket->waitForBytesWritten(5000));
    // The server gets the chance to read the piece alone; a piece is no report.
    QTest::qWait(50);
    EXPECT_EQ(window->core().pointBase().count(), 0);
    socket->write(first.mid(20));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 1; }, 5000));

    socket->write(FrameBytes(2) + FrameBytes(3)); // two frames in one write
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 3; }, 5000));

    QByteArray corrupted = FrameBytes(4);
    corrupted[10] = static_cast<char>(corrupted[10] ^ 0x55);
    // Off the 64-byte grid, a registered point's frame is taken at once...
    socket->write(QByteArray("\x01\x02\x03", 3) + corrupted + FrameBytes(2, RF_SHOCK));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().todayEvents().back().code == EV_SHOCK; }, 5000));
    // ...an unknown serial only when the next frame confirms it.
    socket->write(QByteArray("\x09", 1) + FrameBytes(5) + FrameBytes(5, RF_SAFE_OPEN));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 4; }, 5000));
    EXPECT_EQ(window->core().pointBase().FindPoint(4), -1);
    EXPECT_EQ(window->core().pointBase().FindPoint(5), 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().todayEvents().back().code == EV_SAFE_OPEN; }, 5000));
}

TEST_F(VarkonDlgTest, ControllerReconnectingReplacesItsStaleConnection)
{
    auto stale = Connect();
    stale->write(FrameBytes(42));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 1; }, 5000));
    auto silent = Connect(); // never sends: never replaced
    auto fresh = Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().link().ConnectionCount() == 3u; }, 5000));
    fresh->write(FrameBytes(42));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stale->state() == QAbstractSocket::UnconnectedState || stale->waitForDisconnected(50); }, 5000));
    EXPECT_EQ(window->core().link().ConnectionCount(), 2u);
    // Garbage on the new connection never closes another one.
    fresh->write(QByteArray(64, '\x7F'));
    fresh->write(FrameBytes(43));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 2; }, 5000));
    EXPECT_EQ(window->core().link().ConnectionCount(), 2u);
    EXPECT_EQ(silent->state(), QAbstractSocket::ConnectedState);
}

TEST_F(VarkonDlgTest, SettingsChangeClosesConnectionsAndListensOnTheNewPort)
{
    auto socket = Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().link().ConnectionCount() == 1u; }, 5000));
    const quint16 newPort = FreePort();
    WhenModal([newPort](QWidget* dialog) {
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("portEdit"));
        edit->setText(QString::number(newPort));
        dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    });
    window->findChild<QPushButton*>(QStringLiteral("settingsButton"))->click();
    EXPECT_EQ(window->core().link().ConnectionCount(), 0u);
    EXPECT_TRUE(socket->state() == QAbstractSocket::UnconnectedState || socket->waitForDisconnected(5000));
    EXPECT_TRUE(window->core().link().IsListening());
    EXPECT_EQ(window->core().link().ListeningPort(), newPort);
    auto again = Connect();
    again->write(FrameBytes(9));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 1; }, 5000));
}

TEST_F(VarkonDlgTest, MinuteTimerSupervisesSilenceAndRollsTheDateOver)
{
    auto socket = Connect();
    socket->write(FrameBytes(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 1; }, 5000));
    clock.Advance(359);
    window->core().OnMinuteTimer();
    EXPECT_EQ(window->core().pointBase().todayEvents().back().code, EV_POINT_FOUND);
    clock.Advance(1);
    window->core().OnMinuteTimer();
    EXPECT_EQ(window->core().pointBase().todayEvents().back().code, EV_GPRS_LOST);

    // 00:00:30 the next day: the day that ended goes to its file and the
    // lists are rebuilt from it.
    clock.Set(kNoon + 12 * 3600 + 30);
    window->core().OnMinuteTimer();
    EXPECT_EQ(window->core().pointBase().today, 11);
    EXPECT_TRUE(window->core().pointBase().todayEvents().empty());
    EXPECT_EQ(window->core().pointBase().yesterdayEvents().size(), 4u);
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/10Dec2025Day.base")));
    const QStringList rows = EventRows();
    ASSERT_EQ(rows.size(), 3); // the server's own events are not rebuilt
    EXPECT_TRUE(rows.front().contains(QStringLiteral("СИСТЕМА: Потеряна GPRS связь с точкой")));
    EXPECT_EQ(ListRows(window->core().points()), QStringList{QStringLiteral("0000 - 0001 | Потеряна GPRS связь с точкой")});
}

TEST_F(VarkonDlgTest, ClosingRecordsTheStopAndSavesToday)
{
    auto socket = Connect();
    socket->write(FrameBytes(5, RF_SHOCK));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 1; }, 5000));
    window->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
    EXPECT_FALSE(window->core().link().IsListening());
    std::vector<T_EVENT> onDisk;
    ASSERT_TRUE(CDayJournal::ReadDayFile(folder + QStringLiteral("/10Dec2025Day.base"), onDisk));
    ASSERT_EQ(onDisk.size(), 4u);
    EXPECT_EQ(onDisk.back().code, EV_SERVER_STOPPED);
    EXPECT_EQ(onDisk.front().code, EV_SERVER_STARTED);

    // Started again the same day: the start is journaled again (a stop came
    // between), and the service row is not rebuilt from the journal.
    window.reset();
    Start();
    // The point registered itself by reporting and was never saved, so no
    // row of it is rebuilt either.
    EXPECT_EQ(EventRows().size(), 1);
    EXPECT_EQ(Recorded(), 5u);
}

TEST_F(VarkonDlgTest, JournalCommandSavesTodaysFile)
{
    auto socket = Connect();
    socket->write(FrameBytes(5));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 1; }, 5000));
    QFile::remove(window->core().journal().TodayFile());
    int shown = -1;
    WhenModal([&](QWidget* dialog) {
        auto* browser = qobject_cast<CHistoryDlg*>(dialog);
        ASSERT_NE(browser, nullptr);
        shown = browser->events().rowCount();
        browser->reject();
    });
    window->OpenJournal();
    std::vector<T_EVENT> onDisk;
    ASSERT_TRUE(CDayJournal::ReadDayFile(window->core().journal().TodayFile(), onDisk));
    EXPECT_EQ(onDisk.size(), Recorded());
    // The browser found all of them in the file.
    EXPECT_EQ(shown, static_cast<int>(Recorded()));
}

TEST_F(VarkonDlgTest, DamagedRegisterIsReportedAndStartUpGoesOn)
{
    window.reset();
    QFile file(folder + QStringLiteral("/SerialBase.base"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromHex("0200000001000000")); // two points, one serial, then nothing
    file.close();
    Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->findChild<QMessageBox*>(QStringLiteral("messageBox")) != nullptr; }, 5000));
    EXPECT_EQ(window->core().pointBase().count(), 1);
    EXPECT_EQ(EventRows().size(), 1); // the journals loaded and the start recorded
}

TEST_F(VarkonDlgTest, FailingConnectionsShowOneBoxAndReceptionGoesOn)
{
    // A reset from the peer fails the read with an error.
    for (int i = 0; i < 3; ++i) {
        auto socket = Connect();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().link().ConnectionCount() == 1u; }, 5000));
        socket->write(QByteArray(10, 'x'));
        socket->flush();
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const int fd = static_cast<int>(socket->socketDescriptor());
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket->abort();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().link().ConnectionCount() == 0u; }, 5000));
    }
    EXPECT_EQ(window->findChildren<QMessageBox*>(QStringLiteral("receiveErrorBox")).size(), 1);
    auto socket = Connect();
    socket->write(FrameBytes(8));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 1; }, 5000));
}

TEST_F(VarkonDlgTest, AStopWhileTheSettingsDialogIsOpenFinishesAndNothingFollowsIt)
{
    auto socket = Connect();
    socket->write(FrameBytes(5));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 1; }, 5000));
    const quint16 otherPort = FreePort();
    WhenModal([&](QWidget* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("portEdit"))->setText(QString::number(otherPort));
        window->reject(); // the stop signal arrives while the operator edits
    });
    // Returns only because the stop closed the dialog on top.
    window->findChild<QPushButton*>(QStringLiteral("settingsButton"))->click();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->core().link().IsListening());
    EXPECT_NE(Store().GetUInt(kSection, kPortValue, 1), otherPort);
    const std::size_t recorded = Recorded();
    ASSERT_EQ(window->core().pointBase().todayEvents().back().code, EV_SERVER_STOPPED);

    // Whatever comes after the stop listens and records nothing.
    window->core().SettingsChanged();
    window->core().ListenOnStoredPort();
    EXPECT_FALSE(window->core().link().IsListening());
    clock.Advance(24 * 3600);
    window->core().OnMinuteTimer();
    const auto frame = MakeFrame(6, RF_SHOCK);
    window->core().pipeline().AcceptReport(frame, SRC_GPRS);
    window->OpenJournal();
    EXPECT_EQ(Recorded(), recorded);
    EXPECT_EQ(window->core().pointBase().count(), 1);
    std::vector<T_EVENT> onDisk;
    ASSERT_TRUE(CDayJournal::ReadDayFile(folder + QStringLiteral("/10Dec2025Day.base"), onDisk));
    ASSERT_FALSE(onDisk.empty());
    EXPECT_EQ(onDisk.back().code, EV_SERVER_STOPPED);
    EXPECT_EQ(onDisk.size(), recorded);
}

TEST_F(VarkonDlgTest, APortThatCannotBeListenedOnIsShownAndStaysOnScreen)
{
    window.reset();
    QTcpServer busy;
    ASSERT_TRUE(busy.listen(QHostAddress::Any, 0));
    const struct
    {
        QString stored;
        QString reason;
    } cases[] = {
        {QString::number(busy.serverPort()), QString::fromLocal8Bit(std::strerror(EADDRINUSE))},
        {QStringLiteral("70000"), QStringLiteral("65535")},
    };
    for (const auto& c : cases) {
        Store().WriteString(kSection, kPortValue, c.stored);
        Start();
        EXPECT_FALSE(window->core().link().IsListening()) << c.stored.toStdString();
        auto* box = window->findChild<QMessageBox*>(QStringLiteral("listenErrorBox"));
        ASSERT_NE(box, nullptr) << c.stored.toStdString();
        EXPECT_TRUE(box->isVisible());
        EXPECT_TRUE(box->text().contains(c.stored)) << box->text().toStdString();
        EXPECT_TRUE(box->text().contains(c.reason)) << box->text().toStdString();
        // Start-up went on: the start of the server is journaled.
        EXPECT_EQ(window->core().pointBase().todayEvents().back().code, EV_SERVER_STARTED);
        window.reset();
    }
}

TEST_F(VarkonDlgTest, AJournalThatCannotBeAppendedToIsReportedOnce)
{
    // After a whole write the file is opened afresh for the next event; a
    // folder in its way makes that fail.
    WhenModal([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
    window->OpenJournal();
    ASSERT_TRUE(QFile::remove(window->core().journal().TodayFile()));
    ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("10Dec2025Day.base")));
    auto socket = Connect();
    socket->write(FrameBytes(1) + FrameBytes(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().count() == 2; }, 5000));
    const auto boxes = window->findChildren<QMessageBox*>(QStringLiteral("messageBox"));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes.front()->text().contains(QStringLiteral("10Dec2025Day.base"))) << boxes.front()->text().toStdString();
}

TEST(SetupDlg, DefaultsOkCancelAndAnEmptyPort)
{
    QSettings(QString::fromUtf16(Settings::kOrganisation), QString::fromUtf16(Settings::kServerProgram)).clear();
    {
        CSetupDlg dialog;
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Установки"));
        EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("portEdit"))->text(), QStringLiteral("49275"));
        EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("folderEdit"))->text(), QString());
        // Letters are refused by the field itself.
        auto* port = dialog.findChild<QLineEdit*>(QStringLiteral("portEdit"));
        port->clear();
        QTest::keyClicks(port, QStringLiteral("12ab3"));
        EXPECT_EQ(port->text(), QStringLiteral("123"));
        dialog.findChild<QLineEdit*>(QStringLiteral("folderEdit"))->setText(QStringLiteral("/srv/база"));
        dialog.reject();
    }
    EXPECT_EQ(Store().GetString(kSection, kPortValue, QStringLiteral("none")), QStringLiteral("none"));
    {
        // A port the server could not listen on gets a message and nothing is stored.
        const std::pair<const char*, QString> refused[] = {
            {"", QStringLiteral("Введите положительное целое число.")},
            {"0", QStringLiteral("Номер порта должен быть от 1 до 65535.")},
            {"65536", QStringLiteral("Номер порта должен быть от 1 до 65535.")},
            {"4294967296", QStringLiteral("Номер порта должен быть от 1 до 65535.")},
        };
        CSetupDlg dialog;
        for (const auto& [text, message] : refused) {
            dialog.findChild<QLineEdit*>(QStringLiteral("portEdit"))->setText(QString::fromLatin1(text));
            QString shown;
            int boxes = 0;
            WhenModal([&](QWidget* box) {
                ++boxes;
                shown = qobject_cast<QMessageBox*>(box)->text();
                qobject_cast<QMessageBox*>(box)->accept();
            });
            dialog.accept();
            EXPECT_EQ(boxes, 1) << text;
            EXPECT_EQ(shown, message) << text;
            EXPECT_EQ(dialog.result(), QDialog::Rejected) << text;
            EXPECT_EQ(Store().GetString(kSection, kPortValue, QStringLiteral("none")), QStringLiteral("none")) << text;
        }
        dialog.findChild<QLineEdit*>(QStringLiteral("portEdit"))->setText(QStringLiteral("65535"));
        dialog.findChild<QLineEdit*>(QStringLiteral("folderEdit"))->setText(QStringLiteral("/srv/база"));
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(Store().GetUInt(kSection, kPortValue, 0), 65535u);
    EXPECT_EQ(Store().GetString(QString::fromUtf16(Settings::kSettingSection), QString::fromUtf16(Settings::kBaseFolder), QString()),
              QStringLiteral("/srv/база"));
}
