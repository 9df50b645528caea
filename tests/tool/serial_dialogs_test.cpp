// The access code, new serial number and about dialogs, the serial change
// sequence of the main window against the controller emulator, and a stop
// of the program while any of the tool's dialogs is open.
#include "tests/tool/controller_fixture.h"
#include "tests/tool/modal_helpers.h"
#include "tool/device/device_texts.h"
#include "tool/device/register_image.h"
#include "tool/ui/about_dlg.h"
#include "tool/ui/line_settings_dlg.h"
#include "tool/ui/new_sensor_dlg.h"
#include "tool/ui/password_dlg.h"
#include "tool/ui/rs232_setup_dlg.h"
#include "tool/ui/sms_edit_dlg.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <optional>

namespace {

QString Section() { return QString::fromUtf16(Settings::kSettingSection); }
QString LastSerialKey() { return QString::fromUtf16(Settings::kLastSerial); }
CSettingsStore Store() { return CSettingsStore(QString::fromUtf16(Settings::kToolProgram)); }

std::optional<std::uint32_t> LastSerial()
{
    const CSettingsStore store = Store();
    if (store.GetString(Section(), LastSerialKey(), QString()).isEmpty())
        return std::nullopt;
    return store.GetUInt(Section(), LastSerialKey(), 0);
}

std::uint32_t Serial(const CRegisterImage& image)
{
    return std::uint32_t{image.settings.serialNumber[0].Get()} << 16 | image.settings.serialNumber[1].Get();
}

void SetSerial(CRegisterImage& image, std::uint32_t serial)
{
    image.settings.serialNumber[0].Set(static_cast<std::uint16_t>(serial >> 16));
    image.settings.serialNumber[1].Set(static_cast<std::uint16_t>(serial & 0xFFFF));
}

template <typename T = QWidget>
T* Child(const QWidget& parent, const char* name)
{
    auto* widget = parent.findChild<T*>(QLatin1StringView(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

// Types text into a dialog's edit, as a user does after selecting what it shows.
void Type(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

class SerialDialogsTest : public CControllerTest
{
};

TEST_F(SerialDialogsTest, OnlyTheAccessCodeOpensTheWay)
{
    const struct
    {
        const char* typed;
        bool accepted;
        bool message;   // "Введите положительное целое число."
    } cases[] = {
        {"58204716", true, false},      {"  58204716\t", true, false}, {"0058204716", true, false},
        {"58204717", false, false},     {"0", false, false},          {"", false, true},
        {"5820a716", false, true},      {"-58204716", false, true},   {"+58204716", false, true},
        {"58204716 1", false, true},    {"99999999999", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        CBoxWatcher boxes;
        CPasswordDlg password;
        auto* code = Child<QLineEdit>(password, "code");
        EXPECT_EQ(code->text(), QStringLiteral("0"));
        EXPECT_EQ(code->echoMode(), QLineEdit::Password);
        EXPECT_EQ(code->property("controlId").toInt(), 1065);
        WhenModal<CPasswordDlg>([&](CPasswordDlg* d) {
            code->setText(QString::fromLatin1(c.typed));
            Child<QPushButton>(*d, "ok")->click();
        });
        EXPECT_EQ(password.exec(), c.accepted ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(boxes.texts, c.message ? std::vector<QString>{QStringLiteral("Введите положительное целое число.")}
                                         : std::vector<QString>{});
    }

    // The code typed after the "0" the edit starts with reads all the same.
    CPasswordDlg password;
    EXPECT_EQ(password.windowTitle(), QStringLiteral("Введите пароль"));
    WhenModal<CPasswordDlg>([](CPasswordDlg* d) {
        auto* code = Child<QLineEdit>(*d, "code");
        code->end(false);
        QTest::keyClicks(code, QStringLiteral("58204716"));
        QTest::keyClick(code, Qt::Key_Return);
    });
    EXPECT_EQ(password.exec(), QDialog::Accepted);
    EXPECT_EQ(password.EnteredCode(), CPasswordDlg::kAccessCode);
}

TEST_F(SerialDialogsTest, TheProposalFollowsLastSerialAndTheControllersNumber)
{
    const struct
    {
        std::optional<std::uint32_t> lastSerial;
        std::uint32_t controllerSerial;
        const char* shown;
    } cases[] = {
        {std::nullopt, 0, "0000-0001"},
        {5, 3, "0000-0006"},
        {5, 0x0001E240, "0001-E240"},   // the controller's own number is larger
        {0xFFFF, 0, "0001-0000"},        // shown in hexadecimal, as everywhere
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        Store().WriteString(Section(), LastSerialKey(), c.lastSerial ? QString::number(*c.lastSerial) : QString());
        if (!c.lastSerial)
            QSettings(QString::fromUtf16(Settings::kOrganisation), QString::fromUtf16(Settings::kToolProgram))
                .remove(Section() + u'/' + LastSerialKey());
        CRegisterImage image;
        image.settings.serialPrefix[0] = 0x02;
        image.settings.serialPrefix[1] = 0x01;
        SetSerial(image, c.controllerSerial);
        CNewSensorDlg dialog(image);
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Новая схема"));
        EXPECT_EQ(Child<QLineEdit>(dialog, "number")->displayText(), QString::fromLatin1(c.shown));
        EXPECT_EQ(Child<QLabel>(dialog, "serialText")->text(), FormatSerial(image));
        EXPECT_EQ(Child<QLabel>(dialog, "serialText")->property("controlId").toInt(), 1034);
        EXPECT_EQ(Child<QLineEdit>(dialog, "number")->property("controlId").toInt(), 1066);
    }
}

TEST_F(SerialDialogsTest, AcceptingStoresTheNumberAndMovesLastSerialOnlyUp)
{
    const struct
    {
        std::uint32_t lastSerial;
        const char* typed;   // nullptr: the proposal as it stands
        std::uint32_t serial;
        std::uint32_t lastAfter;
    } cases[] = {
        {5, nullptr, 6, 6},
        {9, "00000004", 4, 9},                    // smaller: Last serial stays
        {9, "00abcdef", 0x00ABCDEF, 0x00ABCDEF},  // hexadecimal digits, any case
        {9, "ABCDEF01", 0xABCDEF01, 0xABCDEF01},  // above 2^31 all the same
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed ? c.typed : "proposal");
        Store().WriteString(Section(), LastSerialKey(), QString::number(c.lastSerial));
        CRegisterImage image;
        SetSerial(image, 3);
        CNewSensorDlg dialog(image);
        WhenModal<CNewSensorDlg>([&](CNewSensorDlg* d) {
            auto* number = Child<QLineEdit>(*d, "number");
            if (c.typed) {
                number->setCursorPosition(0);
                QTest::keyClicks(number, QString::fromLatin1(c.typed));
            }
            Child<QPushButton>(*d, "ok")->click();
        });
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
        EXPECT_EQ(Serial(image), c.serial);
        EXPECT_EQ(LastSerial(), c.lastAfter);
    }
    // The halves in the controller's word order, each little-endian.
    CRegisterImage image;
    Store().WriteString(Section(), LastSerialKey(), QStringLiteral("5"));
    CNewSensorDlg dialog(image);
    WhenModal<CNewSensorDlg>([](CNewSensorDlg* d) { Child<QPushButton>(*d, "ok")->click(); });
    dialog.exec();
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(image.Bytes().data()) + 94, 4), QByteArray::fromHex("00000600"));

    // Cancel changes nothing.
    CNewSensorDlg cancelled(image);
    WhenModal<CNewSensorDlg>([](CNewSensorDlg* d) {
        QTest::keyClicks(Child<QLineEdit>(*d, "number"), QStringLiteral("0000FFFF"));
        Child<QPushButton>(*d, "cancel")->click();
    });
    EXPECT_EQ(cancelled.exec(), QDialog::Rejected);
    EXPECT_EQ(Serial(image), 6u);
    EXPECT_EQ(LastSerial(), 6u);
}

// Answers the access code and, when serial is given, the new serial number
// dialog that follows the right code.
void AnswerSerialChange(const char* code, const char* serial)
{
    WhenModal<CPasswordDlg>([code, serial](CPasswordDlg* password) {
        if (serial) {
            WhenModal<CNewSensorDlg>([serial](CNewSensorDlg* dialog) {
                auto* number = Child<QLineEdit>(*dialog, "number");
                number->setCursorPosition(0);
                QTest::keyClicks(number, QString::fromLatin1(serial));
                Child<QPushButton>(*dialog, "ok")->click();
            });
        }
        Type(Child<QLineEdit>(*password, "code"), QString::fromLatin1(code));
        Child<QPushButton>(*password, "ok")->click();
    });
}

TEST_F(SerialDialogsTest, TheSerialChangeWritesTheNewNumberToTheController)
{
    Store().WriteString(Section(), LastSerialKey(), QStringLiteral("6"));
    auto dlg = OpenLoaded();
    QLabel* key16 = Child<QLabel>(*dlg, "key16");

    // A single click, a double-click on another key and a wrong code do nothing.
    QTest::mouseClick(key16, Qt::LeftButton);
    QTest::mouseDClick(Child<QLabel>(*dlg, "key15"), Qt::LeftButton);
    AnswerSerialChange("12345678", nullptr);
    QTest::mouseDClick(key16, Qt::LeftButton);
    EXPECT_EQ(registers.WriteCount(), 0u);
    EXPECT_TRUE(dlg->Device().settingsLoaded);
    EXPECT_EQ(LastSerial(), 6u);

    AnswerSerialChange("58204716", "00000007");
    QTest::mouseDClick(key16, Qt::LeftButton);
    EXPECT_EQ(registers.WriteCount(), 2u);
    EXPECT_EQ(LastSerial(), 7u);
    // Registers 47 and 48: the high and the low half, each little-endian.
    EXPECT_EQ(registers.Holding(47), 0x0000);
    EXPECT_EQ(registers.Holding(48), 0x0700);
    EXPECT_EQ(registers.Holding(46), 0x0201);   // the prefix as it was
    EXPECT_EQ(dlg->PollTimer()->interval(), 1600);
    dlg->Device().PollStatus();
    EXPECT_EQ(Child<QLabel>(*dlg, "status")->text(), QStringLiteral("Серийный номер\r\n01.02-0000-0007"));
}

TEST_F(SerialDialogsTest, ANumberThatDidNotReachTheControllerIsNamed)
{
    Store().WriteString(Section(), LastSerialKey(), QStringLiteral("6"));
    auto dlg = OpenLoaded();
    T_SLAVEFAULTS refuse;
    refuse.exceptionCode = 4;
    slave.SetFaults(refuse);
    CBoxWatcher boxes;
    AnswerSerialChange("58204716", "000A0007");
    QTest::mouseDClick(Child<QLabel>(*dlg, "key16"), Qt::LeftButton);
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], QStringLiteral("Серийный номер 000A-0007 не записан: Modbus device return an exception code 4.\n"
                                             "Проверьте подключение устройства и повторите смену номера."));
    EXPECT_EQ(LastSerial(), 0x000A0007u);   // spent all the same: never issued twice
    EXPECT_EQ(registers.WriteCount(), 0u);
}

TEST_F(SerialDialogsTest, AWriteRefusedBeforeTheSettingsWereReadNamesTheNumber)
{
    Store().WriteString(Section(), LastSerialKey(), QStringLiteral("6"));
    CTesmarkDlg dlg;   // the settings were never read
    CBoxWatcher boxes;
    AnswerSerialChange("58204716", "00000007");
    QTest::mouseDClick(Child<QLabel>(dlg, "key16"), Qt::LeftButton);
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0],
              QStringLiteral("Серийный номер 0000-0007 не записан: настройки устройства ещё не прочитаны.\n"
                             "Дождитесь, когда появится серийный номер устройства, и повторите смену номера."));
    EXPECT_EQ(registers.WriteCount(), 0u);
    EXPECT_EQ(LastSerial(), 7u);
}

TEST_F(SerialDialogsTest, TheAboutBoxComesFromTheContextMenuAndF1)
{
    auto dlg = OpenLoaded();
    dlg->show();
    int shown = 0;
    auto answerAbout = [&shown](CAboutDlg* about) {
        ++shown;
        EXPECT_EQ(about->windowTitle(), QStringLiteral("О проекте Tesmark"));
        EXPECT_TRUE(Child<QLabel>(*about, "name")->text().startsWith(QStringLiteral("Tesmark, версия ")));
        Child<QPushButton>(*about, "ok")->click();
    };

    QString item;
    QTimer::singleShot(0, dlg.get(), [&] {
        ASSERT_TRUE(QTest::qWaitFor([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }));
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_EQ(menu->actions().size(), 1);
        item = menu->actions().front()->text();
        WhenModal<CAboutDlg>(answerAbout);
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QWidget* background = Child(*dlg, "angle1Group");
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), background->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(background, &event);
    EXPECT_EQ(item, QStringLiteral("&О проекте Tesmark..."));
    EXPECT_EQ(shown, 1);

    WhenModal<CAboutDlg>(answerAbout);
    QTest::keyClick(dlg.get(), Qt::Key_F1);
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(dlg->PollTimer()->isActive());   // the about box does not stop the poll
    dlg->reject();
}

// A stop (SIGTERM, SIGINT) while any of the tool's dialogs is open answers
// it as its cancel button would, nothing more is written, the port is closed
// and stays closed.
TEST_F(SerialDialogsTest, AStopClosesEveryDialogOfTheTool)
{
    struct T_CASE
    {
        const char* name;
        std::function<void(CTesmarkDlg&)> open;
        std::function<void()> reachInnermost;   // answers the dialogs on the way
        const QMetaObject* innermost;
    };
    const T_CASE cases[] = {
        {"port dialog", [](CTesmarkDlg& d) { QTest::mouseClick(Child<QPushButton>(d, "port"), Qt::LeftButton); },
         [] {}, &CRS232SetupDlg::staticMetaObject},
        {"line settings", [](CTesmarkDlg& d) { QTest::mouseClick(Child<QPushButton>(d, "port"), Qt::LeftButton); },
         [] {
             WhenModal<CRS232SetupDlg>(
                 [](CRS232SetupDlg* dialog) { Child<QPushButton>(*dialog, "lineSetup")->click(); });
         },
         &CLineSettingsDlg::staticMetaObject},
        {"password", [](CTesmarkDlg& d) { QTest::mouseDClick(Child<QLabel>(d, "key16"), Qt::LeftButton); }, [] {},
         &CPasswordDlg::staticMetaObject},
        {"new serial number",
         [](CTesmarkDlg& d) { QTest::mouseDClick(Child<QLabel>(d, "key16"), Qt::LeftButton); },
         [] { AnswerSerialChange("58204716", nullptr); }, &CNewSensorDlg::staticMetaObject},
        {"about", [](CTesmarkDlg& d) { QTest::keyClick(&d, Qt::Key_F1); }, [] {}, &CAboutDlg::staticMetaObject},
        {"window menu",
         [](CTesmarkDlg& d) {
             QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), d.mapToGlobal(QPoint(5, 5)));
             QApplication::sendEvent(&d, &event);
         },
         [] {}, &QMenu::staticMetaObject},
        {"SMS question", [](CTesmarkDlg& d) { QTest::mouseClick(Child<QPushButton>(d, "sendSms"), Qt::LeftButton); },
         [] {}, &QMessageBox::staticMetaObject},
        {"SMS editor", [](CTesmarkDlg& d) { QTest::mouseClick(Child<QPushButton>(d, "sendSms"), Qt::LeftButton); },
         [] { WhenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); }); },
         &CSMSEditDlg::staticMetaObject},
    };
    for (const T_CASE& c : cases) {
        SCOPED_TRACE(c.name);
        auto dlg = OpenLoaded();
        bool reached = false;
        QTimer::singleShot(0, dlg.get(), [&] {
            c.reachInnermost();
            c.open(*dlg);
        });
        // Stop once the innermost dialog stands.
        auto* watch = new QTimer(dlg.get());
        QObject::connect(watch, &QTimer::timeout, dlg.get(), [&, watch] {
            QWidget* modal = QApplication::activePopupWidget();
            if (!modal)
                modal = QApplication::activeModalWidget();
            if (modal && modal != dlg.get() && modal->metaObject() == c.innermost) {
                watch->stop();
                reached = true;
                dlg->CloseOnStopSignal();
            }
        });
        watch->start(5);
        // Should anything stay open, it is closed late, so that the test
        // fails instead of hanging.
        bool leftOpen = false;
        QTimer::singleShot(10000, dlg.get(), [&] {
            while (QWidget* popup = QApplication::activePopupWidget()) {
                leftOpen = true;
                popup->close();
            }
            while (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                if (modal == dlg.get())
                    break;
                leftOpen = true;
                modal->reject();
            }
            dlg->reject();
        });
        EXPECT_EQ(dlg->exec(), QDialog::Rejected);
        EXPECT_TRUE(reached);
        EXPECT_FALSE(leftOpen);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        EXPECT_FALSE(dlg->Device().master.IsOpen());
        EXPECT_FALSE(dlg->PollTimer()->isActive());
        EXPECT_EQ(registers.WriteCount(), 0u);
    }
}

TEST_F(SerialDialogsTest, EveryButtonOfTheSmallDialogsShowsItsCaptionWhole)
{
    CRegisterImage image;
    T_SERIALLINE line;
    CPasswordDlg password;
    CNewSensorDlg newSensor(image);
    CAboutDlg about;
    CLineSettingsDlg lineSettings(QStringLiteral("COM1"), &line);
    CLocalModbus master;
    CSMSEditDlg editor(master, image);
    for (QDialog* dialog : std::initializer_list<QDialog*>{&password, &newSensor, &about, &lineSettings, &editor}) {
        for (QWidget* control : dialog->findChildren<QWidget*>()) {
            if (!qobject_cast<QPushButton*>(control) && !qobject_cast<QLabel*>(control))
                continue;
            EXPECT_LE(control->geometry().right(), dialog->width()) << control->objectName().toStdString();
            if (qobject_cast<QPushButton*>(control)) {
                EXPECT_GE(control->width(), control->sizeHint().width()) << control->objectName().toStdString();
            }
        }
    }
}

} // namespace
