// The port settings dialog on pseudo-terminals standing in for serial ports,
// and the main window's port change around it with the controller emulator.
#include "tests/support/temp_env.h"
#include "tests/tool/controller_fixture.h"
#include "tests/tool/modal_helpers.h"
#include "common/serial_device.h"
#include "tool/ui/line_settings_dlg.h"
#include "tool/ui/rs232_setup_dlg.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <cstring>
#include <map>

#include <pty.h>
#include <unistd.h>

namespace {

// A pseudo-terminal whose other end stands open: a free port at Path().
class CPty
{
public:
    CPty()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
            ::close(slave);
            path_ = QString::fromLocal8Bit(name);
        }
    }
    ~CPty()
    {
        if (master_ >= 0)
            ::close(master_);
    }
    CPty(const CPty&) = delete;
    CPty& operator=(const CPty&) = delete;
    const QString& Path() const { return path_; }

private:
    int master_ = -1;
    QString path_;
};

CSettingsStore Store() { return CSettingsStore(QString::fromUtf16(Settings::kToolProgram)); }
QString Rs232() { return QString::fromUtf16(Settings::kRs232Section); }
QString Key(const char16_t* value) { return QString::fromUtf16(value); }

// Every one of COM0 .. COM9 leads where the test says, the others nowhere,
// so that no device of the machine is listed.
void MapComPorts(const std::map<int, QString>& ports)
{
    CSettingsStore store = Store();
    for (int n = 0; n < 10; ++n) {
        const auto port = ports.find(n);
        store.WriteString(QString::fromUtf16(Settings::kPortsSection), QStringLiteral("COM%1").arg(n),
                          port != ports.end() ? port->second : QStringLiteral("/nonexistent/com%1").arg(n));
    }
}

// The five stored values, as text; absent ones empty.
QStringList StoredRs232()
{
    const CSettingsStore store = Store();
    QStringList values;
    for (const char16_t* name : {Settings::kRs232Port, Settings::kRs232Baudrate, Settings::kRs232Size,
                                 Settings::kRs232Stop, Settings::kRs232Parity})
        values.append(store.GetString(Rs232(), Key(name), QString()));
    return values;
}

QStringList Entries(const QComboBox* combo)
{
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries.append(combo->itemText(i));
    return entries;
}

template <typename T = QWidget>
T* Child(const QWidget& parent, const char* name)
{
    auto* widget = parent.findChild<T*>(QLatin1StringView(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

class RS232SetupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSettings(QString::fromUtf16(Settings::kOrganisation), QString::fromUtf16(Settings::kToolProgram)).clear();
        ASSERT_FALSE(com1.Path().isEmpty());
        ASSERT_FALSE(com3.Path().isEmpty());
        ASSERT_FALSE(com5.Path().isEmpty());
        ASSERT_FALSE(com12.Path().isEmpty());
        Store().WriteString(QString::fromUtf16(Settings::kPortsSection), QStringLiteral("COM12"), com12.Path());
        MapComPorts({{1, com1.Path()}, {3, com3.Path()}, {5, com5.Path()}});
        // COM5 is held by another program.
        ASSERT_TRUE(held.Open(com5.Path().toStdString()));
    }

    CPty com1, com3, com5, com12;
    CSerialDevice held;
};

TEST_F(RS232SetupTest, ListsThePortsThatOpenAndSelectsTheStoredOne)
{
    const struct
    {
        const char* stored;   // nullptr: nothing stored
        const char* selected;
    } cases[] = {
        {nullptr, "COM1"}, {"COM1", "COM1"}, {"com3", "COM3"}, {"COM7", "COM1"},
        {"COM12", "COM1"},   // ports from 10 up are never listed
        {"COM", "COM3"},     // names beginning with it are looked for from the second entry
        {"", "COM1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "(none)");
        if (c.stored)
            Store().WriteString(Rs232(), Key(Settings::kRs232Port), QString::fromLatin1(c.stored));
        CRS232SetupDlg dialog(nullptr, {});
        auto* ports = Child<QComboBox>(dialog, "ports");
        EXPECT_EQ(Entries(ports), (QStringList{QStringLiteral("COM1"), QStringLiteral("COM3")}));
        EXPECT_EQ(ports->currentText(), QString::fromLatin1(c.selected));
        EXPECT_EQ(dialog.PortName(), QString::fromLatin1(c.selected));
    }
    // The held port is listed once it is free.
    held.Close();
    CRS232SetupDlg dialog(nullptr, {});
    EXPECT_EQ(Entries(Child<QComboBox>(dialog, "ports")),
              (QStringList{QStringLiteral("COM1"), QStringLiteral("COM3"), QStringLiteral("COM5")}));
}

TEST_F(RS232SetupTest, DevicesByPathFollowTheComPortsEachDeviceOnce)
{
    CPty adapter, usb2, usb10;
    const QString dir = MakeTempFolder();
    ASSERT_TRUE(QDir(dir).mkpath(QStringLiteral("by-id")));
    const struct
    {
        const char* link;
        QString target;
    } links[] = {
        {"by-id/usb-Adapter_A-if00-port0", adapter.Path()},
        {"ttyUSB0", com1.Path()},       // COM1 by another name
        {"ttyUSB1", adapter.Path()},    // listed by its stable name already
        {"ttyUSB2", usb2.Path()},
        {"ttyUSB10", usb10.Path()},
        {"ttyACM0", QStringLiteral("/nonexistent/acm0")},
    };
    for (const auto& l : links)
        ASSERT_TRUE(QFile::link(l.target, dir + u'/' + QLatin1StringView(l.link))) << l.link;
    const QStringList patterns = {dir + QStringLiteral("/by-id/*"), dir + QStringLiteral("/ttyUSB*"),
                                  dir + QStringLiteral("/ttyACM*")};

    const QString usb2Name = dir + QStringLiteral("/ttyUSB2");
    const QString usb10Name = dir + QStringLiteral("/ttyUSB10");
    const QStringList expected = {QStringLiteral("COM1"), QStringLiteral("COM3"),
                                  dir + QStringLiteral("/by-id/usb-Adapter_A-if00-port0"), usb2Name, usb10Name};
    // A stored path selects that very device, not one whose name goes on from it.
    for (const QString& stored : {usb10Name, QString(dir + QStringLiteral("/ttyUSB1")), usb2Name}) {
        Store().WriteString(Rs232(), Key(Settings::kRs232Port), stored);
        CRS232SetupDlg dialog(nullptr, patterns);
        auto* ports = Child<QComboBox>(dialog, "ports");
        EXPECT_EQ(Entries(ports).join(u' ').toStdString(), expected.join(u' ').toStdString());
        const QString selected = stored.endsWith(QStringLiteral("ttyUSB1")) ? usb10Name : stored;
        EXPECT_EQ(ports->currentText(), selected) << stored.toStdString();
    }
    // The default places are those of the machine's own serial devices.
    EXPECT_EQ(CRS232SetupDlg::DefaultPatterns(),
              (QStringList{QStringLiteral("/dev/serial/by-id/*"), QStringLiteral("/dev/ttyUSB*"),
                           QStringLiteral("/dev/ttyACM*")}));
}

TEST_F(RS232SetupTest, OkStoresTheFiveValuesAndCancelStoresNothing)
{
    CSettingsStore store = Store();
    store.WriteString(Rs232(), Key(Settings::kRs232Port), QStringLiteral("COM7"));
    store.WriteInt(Rs232(), Key(Settings::kRs232Baudrate), 19200);
    store.WriteInt(Rs232(), Key(Settings::kRs232Size), 7);
    store.WriteInt(Rs232(), Key(Settings::kRs232Parity), 2);
    const QStringList before = StoredRs232();
    ASSERT_EQ(before, (QStringList{QStringLiteral("COM7"), QStringLiteral("19200"), QStringLiteral("7"), QString(),
                                   QStringLiteral("2")}));

    // Changes of the port and of the line, then Cancel.
    for (const bool lineCancelled : {true, false}) {
        CRS232SetupDlg dialog(nullptr, {});
        Child<QComboBox>(dialog, "ports")->setCurrentIndex(1);
        EXPECT_EQ(dialog.PortName(), QStringLiteral("COM3"));
        WhenModal<CLineSettingsDlg>([lineCancelled](CLineSettingsDlg* editor) {
            Child<QComboBox>(*editor, "baudRate")->setCurrentText(QStringLiteral("9600"));
            Child<QComboBox>(*editor, "stopBits")->setCurrentIndex(2);
            lineCancelled ? editor->reject() : editor->accept();
        });
        Child<QPushButton>(dialog, "lineSetup")->click();
        EXPECT_EQ(dialog.Line().baudRate, lineCancelled ? 19200u : 9600u);
        WhenModal<CRS232SetupDlg>([](CRS232SetupDlg* d) { Child<QPushButton>(*d, "cancel")->click(); });
        EXPECT_EQ(dialog.exec(), QDialog::Rejected);
        EXPECT_EQ(StoredRs232(), before);
    }

    // OK with nothing changed writes all five, the first port for the missing one.
    {
        CRS232SetupDlg dialog(nullptr, {});
        WhenModal<CRS232SetupDlg>([](CRS232SetupDlg* d) { Child<QPushButton>(*d, "ok")->click(); });
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
        EXPECT_EQ(StoredRs232(), (QStringList{QStringLiteral("COM1"), QStringLiteral("19200"), QStringLiteral("7"),
                                              QStringLiteral("0"), QStringLiteral("2")}));
    }

    // The line editor shows the record and offers only speeds the system sets.
    CRS232SetupDlg dialog(nullptr, {});
    Child<QComboBox>(dialog, "ports")->setCurrentIndex(1);
    WhenModal<CLineSettingsDlg>([](CLineSettingsDlg* editor) {
        auto* speeds = Child<QComboBox>(*editor, "baudRate");
        QStringList offered;
        for (const std::uint32_t rate : SettableBaudRates())
            offered.append(QString::number(rate));
        EXPECT_EQ(Entries(speeds), offered);
        EXPECT_EQ(speeds->currentText(), QStringLiteral("19200"));
        EXPECT_EQ(Child<QComboBox>(*editor, "dataBits")->currentText(), QStringLiteral("7"));
        EXPECT_EQ(Child<QComboBox>(*editor, "parity")->currentText(), QStringLiteral("Чёт"));
        EXPECT_EQ(Child<QComboBox>(*editor, "stopBits")->currentText(), QStringLiteral("1"));
        EXPECT_EQ(Entries(Child<QComboBox>(*editor, "parity")),
                  (QStringList{QStringLiteral("Нет"), QStringLiteral("Нечёт"), QStringLiteral("Чёт"),
                               QStringLiteral("Маркер"), QStringLiteral("Пробел")}));
        speeds->setCurrentText(QStringLiteral("57600"));
        Child<QComboBox>(*editor, "dataBits")->setCurrentText(QStringLiteral("8"));
        Child<QComboBox>(*editor, "parity")->setCurrentText(QStringLiteral("Нечёт"));
        Child<QComboBox>(*editor, "stopBits")->setCurrentText(QStringLiteral("2"));
        Child<QPushButton>(*editor, "ok")->click();
    });
    Child<QPushButton>(dialog, "lineSetup")->click();
    WhenModal<CRS232SetupDlg>([](CRS232SetupDlg* d) { Child<QPushButton>(*d, "ok")->click(); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(StoredRs232(), (QStringList{QStringLiteral("COM3"), QStringLiteral("57600"), QStringLiteral("8"),
                                          QStringLiteral("2"), QStringLiteral("1")}));
}

TEST_F(RS232SetupTest, WithoutAnyPortTheDialogSaysSoAndOkStoresNothing)
{
    MapComPorts({});
    Store().WriteString(Rs232(), Key(Settings::kRs232Port), QStringLiteral("COM4"));
    const QStringList before = StoredRs232();
    CRS232SetupDlg dialog(nullptr, {});
    auto* ports = Child<QComboBox>(dialog, "ports");
    EXPECT_EQ(ports->count(), 0);
    EXPECT_EQ(ports->placeholderText(), QStringLiteral("Последовательный порт не найден"));
    WhenModal<CRS232SetupDlg>([](CRS232SetupDlg* d) { Child<QPushButton>(*d, "ok")->click(); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(StoredRs232(), before);
}

TEST_F(RS232SetupTest, TheDialogKeepsItsTemplate)
{
    CRS232SetupDlg dialog(nullptr, {});
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Установки порта"));
    const struct
    {
        const char* name;
        int id;
        const char* text;
    } controls[] = {{"ports", 15010, nullptr}, {"lineSetup", 15011, "RS232 SETUP"}, {"ok", 1, "ОК"},
                    {"cancel", 2, "Отмена"}};
    for (const auto& c : controls) {
        QWidget* control = Child(dialog, c.name);
        EXPECT_EQ(control->property("controlId").toInt(), c.id) << c.name;
        if (auto* button = qobject_cast<QPushButton*>(control)) {
            EXPECT_EQ(button->text(), QString::fromUtf8(c.text));
            EXPECT_FALSE(button->icon().isNull());
            EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);
            // Picture and caption fit.
            EXPECT_GE(button->width(), button->sizeHint().width()) << c.name;
            EXPECT_LE(button->geometry().right(), dialog.width()) << c.name;
        }
    }
    EXPECT_EQ(Child<QLabel>(dialog, "portCaption")->text(), QStringLiteral("Выбор порта"));
}

// The main window around the dialog, with the controller emulator.
class PortChangeTest : public CControllerTest
{
};

TEST_F(PortChangeTest, APortChosenInTheDialogIsOpenedAndReadAgain)
{
    MapComPorts({{3, QString::fromStdString(link.Path())}});
    Store().WriteString(Rs232(), Key(Settings::kRs232Port), QStringLiteral("COM1"));
    CTesmarkDlg dlg;
    dlg.SetDevicePatterns({});
    ASSERT_FALSE(dlg.Device().portReady);
    WhenModal<CRS232SetupDlg>([](CRS232SetupDlg* dialog) {
        EXPECT_EQ(Entries(Child<QComboBox>(*dialog, "ports")), QStringList{QStringLiteral("COM3")});
        Child<QPushButton>(*dialog, "ok")->click();
    });
    QTest::mouseClick(Child<QPushButton>(dlg, "port"), Qt::LeftButton);
    EXPECT_EQ(Store().GetString(Rs232(), Key(Settings::kRs232Port), QString()), QStringLiteral("COM3"));
    EXPECT_TRUE(dlg.Device().portReady);
    EXPECT_EQ(dlg.PollTimer()->interval(), 1600);
    dlg.Device().PollStatus();
    EXPECT_TRUE(dlg.Device().settingsLoaded);
}

TEST_F(PortChangeTest, LineSettingsThePortRefusesAreReportedOnce)
{
    Store().WriteInt(Rs232(), Key(Settings::kRs232Baudrate), 12345);
    CBoxWatcher boxes;
    CTesmarkDlg dlg;
    EXPECT_FALSE(dlg.Device().portReady);
    dlg.show();   // the report waits for the window
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.texts.size() == 1; }));
    const QString reason = QString::fromLocal8Bit(std::strerror(EINVAL));
    EXPECT_TRUE(boxes.texts[0].contains(QStringLiteral("12345 бит/с"))) << boxes.texts[0].toStdString();
    EXPECT_TRUE(boxes.texts[0].contains(reason)) << boxes.texts[0].toStdString();
    EXPECT_TRUE(boxes.texts[0].contains(QString::fromStdString(link.Path())));

    // The poll goes on trying without a word.
    for (int tick = 0; tick < 3; ++tick)
        dlg.Device().PollStatus();
    EXPECT_EQ(boxes.texts.size(), 1u);
    EXPECT_FALSE(dlg.Device().portReady);

    // Other settings the port refuses are reported in their turn.
    Store().WriteInt(Rs232(), Key(Settings::kRs232Baudrate), 9600);
    Store().WriteInt(Rs232(), Key(Settings::kRs232Size), 9);
    dlg.Device().PollStatus();
    ASSERT_EQ(boxes.texts.size(), 2u);
    EXPECT_TRUE(boxes.texts[1].contains(QStringLiteral("9600 бит/с, 9 бит данных"))) << boxes.texts[1].toStdString();

    // Once the port opens, a later refusal is news again.
    Store().WriteInt(Rs232(), Key(Settings::kRs232Size), 8);
    dlg.Device().PollStatus();
    EXPECT_TRUE(dlg.Device().portReady);
    dlg.Device().ClosePort();
    Store().WriteInt(Rs232(), Key(Settings::kRs232Size), 9);
    dlg.Device().PollStatus();
    EXPECT_EQ(boxes.texts.size(), 3u);
    dlg.reject();
}

} // namespace
