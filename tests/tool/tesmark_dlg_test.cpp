// The setup tool's main window against the controller emulator on a pseudo-terminal.
#include "common/settings_store.h"
#include "sim/controller_registers.h"
#include "sim/modbus_slave.h"
#include "sim/modbus_slave_link.h"
#include "tests/tool/modal_helpers.h"
#include "tool/device/control_ids.h"
#include "tool/device/device_texts.h"
#include "tool/ui/pro_slider_ctrl.h"
#include "tool/ui/rs232_setup_dlg.h"
#include "tool/ui/tesmark_dlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

const QString kDisconnected = QStringLiteral("Устройство не подключено");
const QString kEmptyKey = QStringLiteral(": FFFF - FFFF - FFFF - FF - FF");

QString Section() { return QString::fromUtf16(Settings::kRs232Section); }

void UsePort(const QString& path)
{
    CSettingsStore(QString::fromUtf16(Settings::kToolProgram))
        .WriteString(Section(), QString::fromUtf16(Settings::kRs232Port), path);
}

// Answers the next modal box: records its text and icon, presses a button.
struct T_ANSWER
{
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool asked = false;
};
void AnswerNextBox(T_ANSWER* answer, QMessageBox::StandardButton button)
{
    QTimer::singleShot(0, [answer, button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        answer->asked = true;
        answer->text = box->text();
        answer->icon = box->icon();
        box->button(button)->click();
    });
}

class TesmarkDlgTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSettings(QString::fromUtf16(Settings::kOrganisation), QString::fromUtf16(Settings::kToolProgram)).clear();
        registers.FreezeReadings(true);
        ASSERT_TRUE(link.StartOnPty());
        UsePort(QString::fromStdString(link.Path()));
    }

    // Settings bytes of the emulated controller, as the register image holds them.
    QByteArray ControllerBytes() const
    {
        QByteArray bytes;
        for (std::uint16_t n = 0; n < 128; ++n) {
            bytes.append(static_cast<char>(registers.Holding(n) >> 8));
            bytes.append(static_cast<char>(registers.Holding(n) & 0xFF));
        }
        return bytes;
    }
    void SetControllerBytes(int offset, const QByteArray& bytes)
    {
        QByteArray all = ControllerBytes();
        all.replace(offset, bytes.size(), bytes);
        for (std::uint16_t n = 0; n < 128; ++n)
            registers.SetHolding(n, static_cast<std::uint16_t>(static_cast<std::uint8_t>(all[2 * n]) << 8 |
                                                               static_cast<std::uint8_t>(all[2 * n + 1])));
    }

    std::unique_ptr<CTesmarkDlg> OpenLoaded()
    {
        auto dlg = std::make_unique<CTesmarkDlg>();
        dlg->Device().PollStatus();
        EXPECT_TRUE(dlg->Device().settingsLoaded);
        return dlg;
    }

    template <typename T = QWidget>
    static T* Find(CTesmarkDlg& dlg, const char* name)
    {
        auto* widget = dlg.findChild<T*>(QLatin1StringView(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    static QString Text(CTesmarkDlg& dlg, const char* name) { return Find<QLabel>(dlg, name)->text(); }
    static CProSliderCtrl* Slider(CTesmarkDlg& dlg, const char* name) { return Find<CProSliderCtrl>(dlg, name); }
    static int Period(CTesmarkDlg& dlg) { return dlg.PollTimer()->isActive() ? dlg.PollTimer()->interval() : 0; }

    CControllerRegisters registers;
    CModbusSlave slave{registers};
    CModbusSlaveLink link{slave};
};

const char* const kTiltSliders[] = {"angle1Lower", "angle1Upper", "angle2Lower", "angle2Upper", "angle3Lower", "angle3Upper"};
const char* const kTemperatureSliders[] = {"temperature1Lower", "temperature1Upper", "temperature2Lower", "temperature2Upper"};

void ExpectDisconnectedDisplay(CTesmarkDlg& dlg)
{
    for (int n = 0; n < 6; ++n) {
        auto* slider = dlg.findChild<CProSliderCtrl*>(QLatin1StringView(kTiltSliders[n]));
        EXPECT_EQ(slider->value(), n % 2 ? 996 : 2296) << kTiltSliders[n];
        EXPECT_EQ(slider->CurrentValue(), 996);
    }
    for (int n = 0; n < 4; ++n) {
        auto* slider = dlg.findChild<CProSliderCtrl*>(QLatin1StringView(kTemperatureSliders[n]));
        EXPECT_EQ(slider->value(), n % 2 ? 0 : 1440) << kTemperatureSliders[n];
        EXPECT_EQ(slider->CurrentValue(), 996);
    }
    auto* light = dlg.findChild<CProSliderCtrl*>(QStringLiteral("light"));
    EXPECT_EQ(light->value(), 2048);
    EXPECT_EQ(light->CurrentValue(), 4096);
    EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("status"))->text(), kDisconnected);
}

TEST_F(TesmarkDlgTest, EveryControlHasItsIdAndName)
{
    CTesmarkDlg dlg;
    const int ids[] = {2, 1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014,
                       1015, 1016, 1017, 1018, 1019, 1020, 1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029,
                       1030, 1031, 1032, 1033, 1034, 1036, 1037, 1038, 1039, 1040, 1041, 1042, 1043, 1044, 1045,
                       1046, 1047, 1062, 1063, 1064, 1065, 1066, 1067, 1068};
    for (int id : ids) {
        int found = 0;
        for (QWidget* w : dlg.findChildren<QWidget*>()) {
            if (w->property("controlId").toInt() == id && !w->objectName().isEmpty())
                ++found;
        }
        EXPECT_EQ(found, 1) << id;
    }
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Alarm system setting"));
    EXPECT_EQ(Find<QAbstractButton>(dlg, "write")->text(), QStringLiteral("Запись"));
    EXPECT_EQ(Text(dlg, "key16"), QStringLiteral("Ключ 16") + kEmptyKey);
    EXPECT_EQ(Text(dlg, "lastKey"), QStringLiteral("Ключ") + kEmptyKey);
    EXPECT_EQ(Find<QLineEdit>(dlg, "smsPhone")->text(), QStringLiteral("+7(910)000-00-00"));
    EXPECT_EQ(Find<QCheckBox>(dlg, "powerControl")->text(), QStringLiteral("Контроль питания"));
}

TEST_F(TesmarkDlgTest, WithoutAPortNothingIsPolled)
{
    UsePort(QStringLiteral("/nonexistent/tty"));
    CTesmarkDlg dlg;
    ExpectDisconnectedDisplay(dlg);
    EXPECT_FALSE(dlg.PollTimer()->isActive());
    dlg.Device().PollStatus();
    EXPECT_FALSE(dlg.Device().portReady);
    EXPECT_EQ(slave.RequestCount(), 0u);
    EXPECT_EQ(Text(dlg, "status"), kDisconnected);
}

TEST_F(TesmarkDlgTest, PollCycleReadsSettingsThenLiveReadingsAndFallsBack)
{
    registers.PresentKey(CControllerRegisters::Key{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF});
    CTesmarkDlg dlg;
    CTesmarkDevice& device = dlg.Device();
    ASSERT_TRUE(device.portReady);
    EXPECT_EQ(Period(dlg), 1600);
    ExpectDisconnectedDisplay(dlg);

    device.PollStatus();   // the settings
    EXPECT_TRUE(device.settingsLoaded);
    EXPECT_EQ(Period(dlg), 700);
    EXPECT_EQ(Text(dlg, "status"), QStringLiteral("Серийный номер\r\n01.02-0001-E240"));
    EXPECT_EQ(Slider(dlg, "angle1Lower")->CurrentValue(), 996);

    device.PollStatus();   // live readings: tilt 2400, 2500, 2450; temperatures 600, 628; light 1500
    EXPECT_EQ(Period(dlg), 700);
    const struct { const char* slider; int marker; } markers[] = {
        {"angle1Lower", 1696}, {"angle1Upper", 1696}, {"angle2Lower", 1596}, {"angle2Upper", 1596},
        {"angle3Lower", 1646}, {"angle3Upper", 1646}, {"temperature1Lower", 840}, {"temperature1Upper", 840},
        {"temperature2Lower", 812}, {"temperature2Upper", 812}, {"light", 2596},
    };
    for (const auto& m : markers)
        EXPECT_EQ(Slider(dlg, m.slider)->CurrentValue(), m.marker) << m.slider;
    EXPECT_EQ(Text(dlg, "temperature1"), QStringLiteral("20.0 °C"));
    EXPECT_EQ(Text(dlg, "temperature2"), QStringLiteral("23.5 °C"));
    EXPECT_EQ(Text(dlg, "lastKey"), QStringLiteral("Ключ: 2345 - 6789 - ABCD - EF - 01"));

    // The controller falls silent: back to reading the settings at 1600 ms,
    // with the two disconnected texts taking turns and the port reopened in between.
    T_SLAVEFAULTS silent;
    silent.silent = true;
    slave.SetFaults(silent);
    device.PollStatus();
    EXPECT_FALSE(device.settingsLoaded);
    EXPECT_EQ(Period(dlg), 1600);
    EXPECT_EQ(Text(dlg, "status"), QStringLiteral("Серийный номер\r\n01.02-0001-E240"));
    const QString texts[] = {kDisconnected + QStringLiteral(" ..."), kDisconnected, kDisconnected + QStringLiteral(" ...")};
    for (const QString& text : texts) {
        device.PollStatus();
        EXPECT_EQ(Text(dlg, "status"), text);
        EXPECT_FALSE(device.portReady);
        EXPECT_EQ(Period(dlg), 1600);
    }
    slave.SetFaults({});
    device.PollStatus();
    EXPECT_TRUE(device.settingsLoaded);
    EXPECT_EQ(Period(dlg), 700);
}

TEST_F(TesmarkDlgTest, AControllerAnsweringOnlyTheFirstBlockIsAskedAgain)
{
    T_SLAVEFAULTS faults;
    faults.firstBlockOnly = true;
    slave.SetFaults(faults);
    CTesmarkDlg dlg;
    for (int tick = 0; tick < 2; ++tick) {
        dlg.Device().PollStatus();
        EXPECT_FALSE(dlg.Device().settingsLoaded);
        EXPECT_TRUE(dlg.Device().portReady);
        EXPECT_EQ(Text(dlg, "status"), kDisconnected);
        EXPECT_EQ(Period(dlg), 1600);
    }
    EXPECT_EQ(slave.RequestCount(), 4u);
}

TEST_F(TesmarkDlgTest, EveryControlShowsItsRegister)
{
    SetControllerBytes(28, QByteArray::fromHex("0500" "a500" "a602"));   // polarity 101, siren 1010 0101, GPRS 10 1010 0110
    SetControllerBytes(46, QByteArrayLiteral("+79161234567"));
    SetControllerBytes(128 + 8, QByteArray::fromHex("0123456789abcdef"));
    SetControllerBytes(6, QByteArray::fromHex("6009"));       // tilt 1 lower limit 2400
    SetControllerBytes(18, QByteArray::fromHex("0000a005"));  // temperature 1: 0 .. 1440
    auto dlg = OpenLoaded();

    EXPECT_EQ(Find<QLineEdit>(*dlg, "serverAddress")->text(), QStringLiteral("192.168.1.10"));
    EXPECT_EQ(Find<QLineEdit>(*dlg, "serverPort")->text(), QStringLiteral("5000"));
    EXPECT_EQ(Find<QLineEdit>(*dlg, "smsPhone")->text(), QStringLiteral("+7(910)000-00-00"));
    EXPECT_EQ(Find<QLineEdit>(*dlg, "serverPhone")->text(), QStringLiteral("+7(916)123-45-67"));
    const struct { const char* slider; int position; } positions[] = {
        {"angle1Lower", 1696}, {"angle1Upper", 996}, {"angle2Lower", 2296}, {"angle3Upper", 996},
        {"temperature1Lower", 1440}, {"temperature1Upper", 0}, {"temperature2Lower", 960},
        {"temperature2Upper", 680}, {"light", 2048},
    };
    for (const auto& p : positions)
        EXPECT_EQ(Slider(*dlg, p.slider)->value(), p.position) << p.slider;
    const struct { const char* label; const char* text; } temperatures[] = {
        {"temperature1LowerText", "-55.0 °C"}, {"temperature1UpperText", "125.0 °C"},
        {"temperature2LowerText", "5.0 °C"}, {"temperature2UpperText", "40.0 °C"},
    };
    for (const auto& t : temperatures)
        EXPECT_EQ(Text(*dlg, t.label), QString::fromUtf8(t.text)) << t.label;

    for (std::size_t bit = 0; bit < kSirenBoxes.size(); ++bit)
        EXPECT_EQ(dlg->Checked(kSirenBoxes[bit]), ((0xA5 >> bit) & 1) != 0) << bit;
    for (std::size_t bit = 0; bit < kGprsBoxes.size(); ++bit)
        EXPECT_EQ(dlg->Checked(kGprsBoxes[bit]), ((0x2A6 >> bit) & 1) != 0) << bit;
    EXPECT_TRUE(Find<QCheckBox>(*dlg, "sensor1Polarity")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(*dlg, "sensor2Polarity")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(*dlg, "sensor3Polarity")->isChecked());
    EXPECT_EQ(Text(*dlg, "key1"), QStringLiteral("Ключ 1") + kEmptyKey);
    EXPECT_EQ(Text(*dlg, "key2"), QStringLiteral("Ключ 2: 2345 - 6789 - ABCD - EF - 01"));

    // The state pictures show the input bits of the live reading: all clear here.
    dlg->Device().PollStatus();
    const QImage down = QIcon(QStringLiteral(":/tool/pictures/down.svg")).pixmap(16, 16).toImage();
    for (const char* name : {"sensor1State", "sensor2State", "sensor3State"})
        EXPECT_EQ(Find<QLabel>(*dlg, name)->pixmap().toImage(), down) << name;
}

TEST_F(TesmarkDlgTest, WriteSettingsLeavesExactlyTheChangedRegisters)
{
    QByteArray reserved58 = QByteArray::fromHex("5a5b");
    QByteArray reserved98;
    for (int n = 0; n < 30; ++n)
        reserved98.append(static_cast<char>(0x80 + n));
    SetControllerBytes(58, reserved58);
    SetControllerBytes(98, reserved98);
    SetControllerBytes(28, QByteArray::fromHex("2000"));   // a polarity bit no box shows
    SetControllerBytes(128, QByteArray::fromHex("0123456789abcdef"));
    const QByteArray before = ControllerBytes();
    auto dlg = OpenLoaded();

    Slider(*dlg, "angle1Lower")->setValue(2000);        // lower limit 2096
    Slider(*dlg, "temperature2Upper")->setValue(100);   // upper limit 1340
    Slider(*dlg, "light")->setValue(1000);               // 3096
    Find<QCheckBox>(*dlg, "angle2Siren")->setChecked(false);
    Find<QCheckBox>(*dlg, "sensor3Polarity")->setChecked(true);
    Find<QLineEdit>(*dlg, "serverAddress")->setText(QStringLiteral("10.0.0.1"));
    Find<QLineEdit>(*dlg, "serverPort")->setText(QStringLiteral("49275"));
    auto* smsPhone = Find<QLineEdit>(*dlg, "smsPhone");
    smsPhone->clear();
    QTest::keyClicks(smsPhone, QStringLiteral("9123456789"));
    QTest::mouseClick(Find<QPushButton>(*dlg, "write"), Qt::LeftButton);

    QByteArray expected = before;
    expected.replace(0, 6, QByteArray::fromHex("000a01007bc0"));
    expected.replace(6, 2, QByteArray::fromHex("3008"));
    expected.replace(24, 4, QByteArray::fromHex("3c05180c"));
    expected.replace(28, 4, QByteArray::fromHex("2400fd00"));
    expected.replace(34, 12, QByteArrayLiteral("+79123456789"));
    EXPECT_EQ(ControllerBytes().toHex(), expected.toHex());
    EXPECT_EQ(ControllerBytes().mid(58, 2), reserved58);
    EXPECT_EQ(ControllerBytes().mid(98, 30), reserved98);

    // The window waits to read back what the controller kept.
    ExpectDisconnectedDisplay(*dlg);
    EXPECT_FALSE(dlg->Device().settingsLoaded);
    EXPECT_EQ(Period(*dlg), 1600);
    dlg->Device().PollStatus();
    EXPECT_EQ(Find<QLineEdit>(*dlg, "serverAddress")->text(), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(Slider(*dlg, "angle1Lower")->value(), 2000);
}

TEST_F(TesmarkDlgTest, NoWriteWithoutTheSettingsOfTheControllerOnTheLine)
{
    const std::function<void(CTesmarkDlg&)> situations[] = {
        [](CTesmarkDlg&) {},   // never read
        [this](CTesmarkDlg& dlg) {   // read, then the controller stopped answering
            dlg.Device().PollStatus();
            T_SLAVEFAULTS silent;
            silent.silent = true;
            slave.SetFaults(silent);
            dlg.Device().PollStatus();
            slave.SetFaults({});
        },
    };
    for (const auto& situation : situations) {
        CTesmarkDlg dlg;
        situation(dlg);
        const auto requests = slave.RequestCount();
        T_ANSWER answer;
        AnswerNextBox(&answer, QMessageBox::Ok);
        QTest::mouseClick(Find<QPushButton>(dlg, "write"), Qt::LeftButton);
        EXPECT_TRUE(answer.asked);
        EXPECT_TRUE(answer.text.startsWith(QStringLiteral("Настройки устройства ещё не прочитаны")));
        EXPECT_EQ(registers.WriteCount(), 0u);
        EXPECT_EQ(slave.RequestCount(), requests);
        EXPECT_EQ(Period(dlg), 1600);
    }
}

T_KEY Key(std::uint8_t k0, std::uint8_t k7, std::uint8_t fill = 0x11)
{
    return T_KEY{{k0, fill, fill, fill, fill, fill, fill, k7}};
}

TEST_F(TesmarkDlgTest, RememberKey)
{
    UsePort(QStringLiteral("/nonexistent/tty"));
    CTesmarkDlg dlg;
    CRegisterImage& image = dlg.Device().image;
    auto keys = [&image] { return std::vector<T_KEY>(std::begin(image.settings.keys), std::end(image.settings.keys)); };
    std::memset(image.settings.keys, 0xFF, sizeof(image.settings.keys));
    const auto empty = keys();

    for (std::uint8_t k0 : {0x00, 0xFF}) {   // no key presented
        image.status.lastKey = Key(k0, 0x42);
        dlg.Device().RememberKey();
        EXPECT_EQ(keys(), empty);
    }

    image.status.lastKey = Key(0x01, 0x42);   // stored once, however often remembered
    dlg.Device().RememberKey();
    dlg.Device().RememberKey();
    EXPECT_EQ(image.settings.keys[0], Key(0x01, 0x42));
    EXPECT_EQ(image.settings.keys[1], empty[1]);
    EXPECT_EQ(Text(dlg, "key1"), QStringLiteral("Ключ 1: 1111 - 1111 - 1111 - 42 - 01"));

    image.settings.keys[1] = Key(0x02, 0x43);
    image.settings.keys[2].k[7] = 0x00;        // k7 of 0x00 marks an empty slot too
    image.status.lastKey = Key(0x03, 0x44);
    dlg.Device().RememberKey();
    EXPECT_EQ(image.settings.keys[2], Key(0x03, 0x44));

    // All slots taken, counters 5, 3, 3, 9, then larger: slot 1 gives way and
    // takes the largest counter.
    const std::uint16_t firstCounters[] = {5, 3, 3, 9};
    for (int slot = 0; slot < 16; ++slot) {
        image.settings.keys[slot] = Key(static_cast<std::uint8_t>(0x10 + slot), 0x50);
        image.settings.keyCounter[slot].Set(slot < 4 ? firstCounters[slot] : static_cast<std::uint16_t>(10 + slot));
    }
    image.status.lastKey = Key(0x77, 0x78);
    dlg.Device().RememberKey();
    EXPECT_EQ(image.settings.keys[1], Key(0x77, 0x78));
    EXPECT_EQ(image.settings.keyCounter[1].Get(), 25);
    EXPECT_EQ(image.settings.keys[2], Key(0x12, 0x50));
    EXPECT_EQ(Text(dlg, "key2"), QStringLiteral("Ключ 2: 1111 - 1111 - 1111 - 78 - 77"));
}

TEST_F(TesmarkDlgTest, ClearKeysAsksFirstAndChangesOnlyTheImage)
{
    SetControllerBytes(128, QByteArray::fromHex("0123456789abcdef"));
    auto dlg = OpenLoaded();
    auto* clear = Find<QPushButton>(*dlg, "clearKeys");

    T_ANSWER answer;
    AnswerNextBox(&answer, QMessageBox::No);
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_EQ(answer.text, QStringLiteral("Вы уверены, что хотите удалить все ключи"));
    EXPECT_EQ(answer.icon, QMessageBox::Critical);
    EXPECT_EQ(Text(*dlg, "key1"), QStringLiteral("Ключ 1: 2345 - 6789 - ABCD - EF - 01"));

    AnswerNextBox(&answer, QMessageBox::Yes);
    QTest::mouseClick(clear, Qt::LeftButton);
    for (int slot = 1; slot <= 16; ++slot) {
        const QByteArray name = "key" + QByteArray::number(slot);
        EXPECT_EQ(Text(*dlg, name.constData()), QStringLiteral("Ключ %1").arg(slot) + kEmptyKey);
    }
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(dlg->Device().image.settings.keys), 128), QByteArray(128, '\xFF'));
    EXPECT_EQ(registers.Holding(64), 0x0123);   // the controller keeps its keys until "Запись"
}

TEST_F(TesmarkDlgTest, SliderPairsKeepTheirGap)
{
    UsePort(QStringLiteral("/nonexistent/tty"));
    const struct
    {
        const char* left;
        const char* right;
        int leftBefore, rightBefore;
        bool moveLeft;
        int to;
        int leftAfter, rightAfter;
        const char* lowerText;   // of the temperature pairs
        const char* upperText;
    } cases[] = {
        {"angle1Lower", "angle1Upper", 2296, 1500, true, 1550, 1550, 1450, nullptr, nullptr},
        {"angle1Lower", "angle1Upper", 2296, 996, true, 1050, 1096, 996, nullptr, nullptr},
        {"angle2Lower", "angle2Upper", 2050, 996, false, 2000, 2100, 2000, nullptr, nullptr},
        {"angle3Lower", "angle3Upper", 2296, 996, false, 2250, 2296, 2196, nullptr, nullptr},
        {"angle3Lower", "angle3Upper", 2296, 996, true, 1096, 1096, 996, nullptr, nullptr},
        {"temperature1Lower", "temperature1Upper", 1440, 0, false, 1300, 1440, 1240, "temperature1LowerText",
         "temperature1UpperText"},
        {"temperature2Lower", "temperature2Upper", 1440, 0, true, 150, 200, 0, "temperature2LowerText",
         "temperature2UpperText"},
        {"temperature2Lower", "temperature2Upper", 1000, 500, true, 900, 900, 500, "temperature2LowerText",
         "temperature2UpperText"},
    };
    CTesmarkDlg dlg;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.left) + " " + std::to_string(c.to));
        CProSliderCtrl* left = Slider(dlg, c.left);
        CProSliderCtrl* right = Slider(dlg, c.right);
        left->setValue(c.leftBefore);
        right->setValue(c.rightBefore);
        (c.moveLeft ? left : right)->setSliderPosition(c.to);   // as a drag of the thumb does
        EXPECT_EQ(left->value(), c.leftAfter);
        EXPECT_EQ(right->value(), c.rightAfter);
        if (c.lowerText) {
            EXPECT_EQ(Text(dlg, c.lowerText), TemperatureText(1440 - c.leftAfter));
            EXPECT_EQ(Text(dlg, c.upperText), TemperatureText(1440 - c.rightAfter));
        }
    }
    EXPECT_EQ(Text(dlg, "temperature1LowerText"), QStringLiteral("-55.0 °C"));
    EXPECT_EQ(Text(dlg, "temperature1UpperText"), QStringLiteral("-30.0 °C"));

    // Keys move the thumb through the same rule.
    Slider(dlg, "angle1Lower")->setValue(1600);
    Slider(dlg, "angle1Upper")->setValue(1500);
    Slider(dlg, "angle1Upper")->setFocus();
    QTest::keyClick(Slider(dlg, "angle1Upper"), Qt::Key_Down);
    EXPECT_EQ(Slider(dlg, "angle1Lower")->value(), 1601);
}

TEST_F(TesmarkDlgTest, PortButtonReopensThePortAndReadsEverythingAgain)
{
    auto dlg = OpenLoaded();
    dlg->SetDevicePatterns({});
    // The dialog comes with the port closed and the poll stopped; cancelling
    // it still reopens the port from the stored settings.
    bool shown = false;
    auto cancelDialog = [&](CRS232SetupDlg* dialog) {
        shown = true;
        EXPECT_FALSE(dlg->Device().master.IsOpen());
        EXPECT_FALSE(dlg->Device().portReady);
        EXPECT_FALSE(dlg->PollTimer()->isActive());
        dialog->reject();
    };
    WhenModal<CRS232SetupDlg>(cancelDialog);
    QTest::mouseClick(Find<QPushButton>(*dlg, "port"), Qt::LeftButton);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(dlg->Device().portReady);
    EXPECT_FALSE(dlg->Device().settingsLoaded);
    EXPECT_EQ(Period(*dlg), 1600);

    UsePort(QStringLiteral("/nonexistent/tty"));
    WhenModal<CRS232SetupDlg>(cancelDialog);
    QTest::mouseClick(Find<QPushButton>(*dlg, "port"), Qt::LeftButton);
    EXPECT_FALSE(dlg->Device().portReady);
    EXPECT_FALSE(dlg->PollTimer()->isActive());
}

TEST_F(TesmarkDlgTest, EscapeAndEnterCloseTheWindowUnlessThePortIsNoNumber)
{
    {
        CTesmarkDlg dlg;
        dlg.show();
        QTest::keyClick(&dlg, Qt::Key_Escape);
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_FALSE(dlg.Device().master.IsOpen());
    }
    CTesmarkDlg dlg;
    dlg.show();
    auto* port = Find<QLineEdit>(dlg, "serverPort");
    port->clear();
    port->setFocus();
    T_ANSWER answer;
    AnswerNextBox(&answer, QMessageBox::Ok);
    QTest::keyClick(port, Qt::Key_Return);
    EXPECT_EQ(answer.text, QStringLiteral("Введите положительное целое число."));
    EXPECT_TRUE(dlg.isVisible());

    port->setText(QStringLiteral("7000"));
    QTest::keyClick(port, Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.Device().serverPort, 7000u);
}


TEST_F(TesmarkDlgTest, AStopSignalClosesTheWindowThroughAnOpenQuestion)
{
    SetControllerBytes(128, QByteArray::fromHex("0123456789abcdef"));
    auto dlg = OpenLoaded();
    ASSERT_TRUE(dlg->Device().master.IsOpen());
    bool asked = false;
    QTimer::singleShot(0, dlg.get(), [&] {
        // The window's loop runs; "Удалить ключи" opens its question, and
        // the stop arrives while the question waits for an answer.
        QTimer::singleShot(0, dlg.get(), [&] {
            asked = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr;
            dlg->CloseOnStopSignal();
        });
        QTest::mouseClick(Find<QPushButton>(*dlg, "clearKeys"), Qt::LeftButton);
    });
    // Should the question stay open, it is answered late, so that the test
    // fails instead of hanging.
    bool leftOpen = false;
    QTimer::singleShot(10000, dlg.get(), [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            leftOpen = true;
            box->button(QMessageBox::No)->click();
        }
        dlg->reject();
    });
    EXPECT_EQ(dlg->exec(), QDialog::Rejected);
    EXPECT_TRUE(asked);
    EXPECT_FALSE(leftOpen);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(dlg->Device().master.IsOpen());
    // The question counts as not answered yes: the keys stay.
    EXPECT_EQ(Text(*dlg, "key1"), QStringLiteral("Ключ 1: 2345 - 6789 - ABCD - EF - 01"));
}

} // namespace
