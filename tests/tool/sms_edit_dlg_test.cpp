// The SMS editor, opened from the main window, against the controller
// emulator on a pseudo-terminal.
#include "tests/tool/controller_fixture.h"
#include "tests/tool/modal_helpers.h"
#include "tool/ui/sms_edit_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <mutex>

namespace {

const QString kQuestion = QStringLiteral("Перед редакцией сообщений необходимо установить правильно телефонный номер");
const char16_t* const kLabels[] = {
    u"Проверка канала связи", u"Напряжение питания", u"Датчик освещенности", u"Датчик температуры 1",
    u"Датчик температуры 2",  u"Датчик 1 (отключение)", u"Датчик 2",         u"Датчик 3 ",
    u"Угол наклона",          u"Снят с охраны",         u"Поставлен на охрану",
};

// A slot as the controller keeps it, from its parts, zeros after the end.
QByteArray SlotBytes(const char* destination, const char* lengthAndText)
{
    QByteArray slot = QByteArray("0011000B91") + destination + "000817" + lengthAndText + QByteArray::fromHex("1a00");
    slot.append(QByteArray(256 - slot.size(), '\0'));
    return slot;
}

QLineEdit* Edit(const CSMSEditDlg* editor, int n)
{
    return editor->findChild<QLineEdit*>(QStringLiteral("smsText%1").arg(n));
}

QString Status(const CSMSEditDlg* editor)
{
    return editor->findChild<QLabel*>(QStringLiteral("status"))->text();
}

class SmsEditTest : public CControllerTest
{
protected:
    // Start addresses of the blocks the controller accepted, in order.
    void RecordWrites()
    {
        slave.SetWriteHook([this] {
            const auto request = slave.LastRequest();
            std::lock_guard guard(mutex_);
            writes_.push_back(static_cast<std::uint16_t>(request[2] << 8 | request[3]));
        });
    }
    std::vector<std::uint16_t> Writes()
    {
        std::lock_guard guard(mutex_);
        return writes_;
    }
    static std::vector<std::uint16_t> AllBlocks()
    {
        std::vector<std::uint16_t> starts;
        for (int b = 0; b < CSMSEditDlg::kBlocks; ++b)
            starts.push_back(static_cast<std::uint16_t>(128 * (b + 1)));
        return starts;
    }

    std::mutex mutex_;
    std::vector<std::uint16_t> writes_;
};

TEST_F(SmsEditTest, TheQuestionComesFirstAndCancelOpensNothing)
{
    auto dlg = OpenLoaded();
    const auto requests = slave.RequestCount();
    QString asked;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        asked = box->text();
        EXPECT_FALSE(dlg->PollTimer()->isActive());
        box->button(QMessageBox::Cancel)->click();
    });
    QTest::mouseClick(Find<QPushButton>(*dlg, "sendSms"), Qt::LeftButton);
    EXPECT_EQ(asked, kQuestion);
    EXPECT_EQ(slave.RequestCount(), requests);
    EXPECT_EQ(dlg->PollTimer()->interval(), 1600);
    EXPECT_TRUE(dlg->PollTimer()->isActive());
    EXPECT_TRUE(dlg->Device().settingsLoaded);
    EXPECT_EQ(dlg->Device().master.responseTimeout, 300u);
}

TEST_F(SmsEditTest, TheEditorShowsTheElevenTextsAndCancelWritesNothing)
{
    SetHoldingBytes(128 * 5, SlotBytes("9701000000F0", "080422043504410442").left(128));   // slot 2: "Тест"
    SetHoldingBytes(128 * 6, SlotBytes("9701000000F0", "080422043504410442").mid(128));
    QByteArray full = QByteArray("0011000B91" "9701000000F0" "000817" "70") + QByteArray(224, '0');
    for (int n = 0; n < 56; ++n)
        full.replace(30 + 4 * n, 4, "043f");   // 56 lower-case "п", no end at all
    full.append("zz");
    SetHoldingBytes(128 * 21, full.left(128));   // slot 10
    SetHoldingBytes(128 * 22, full.mid(128));
    auto dlg = OpenLoaded();
    dlg->SetSmsWriteInterval(CSMSEditDlg::kWriteIntervalMs);

    bool seen = false;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        WhenModal<CSMSEditDlg>([&](CSMSEditDlg* editor) {
            ASSERT_TRUE(QTest::qWaitFor([editor] { return editor->SlotsRead(); }));
            seen = true;
            EXPECT_EQ(editor->windowTitle(), QStringLiteral("Редактор SMS"));
            // The 800 ms tick is the configured one; no test waits for it.
            EXPECT_EQ(editor->WriteInterval(), 800);
            EXPECT_EQ(dlg->Device().master.responseTimeout, 1000u);
            EXPECT_EQ(dlg->Device().master.attempts, 5);
            EXPECT_FALSE(dlg->PollTimer()->isActive());
            for (int n = 0; n < CSMSEditDlg::kTexts; ++n) {
                EXPECT_EQ(Edit(editor, n)->property("controlId").toInt(), 1065 + n);
                EXPECT_EQ(Edit(editor, n)->maxLength(), 56);
                EXPECT_EQ(editor->findChild<QLabel*>(QStringLiteral("smsLabel%1").arg(n))->text(),
                          QString::fromUtf16(kLabels[n]));
            }
            EXPECT_EQ(Edit(editor, 2)->text(), QStringLiteral("Тест"));
            EXPECT_EQ(Edit(editor, 10)->text(), QString(56, QChar(u'п')));
            EXPECT_EQ(Edit(editor, 0)->text(), QString());
            EXPECT_EQ(editor->findChild<QLabel*>(QStringLiteral("status"))->property("controlId").toInt(), 1076);
            Edit(editor, 10)->end(false);
            QTest::keyClicks(Edit(editor, 10), QStringLiteral("abc"));
            EXPECT_EQ(Edit(editor, 10)->text().size(), 56);
            Edit(editor, 0)->setText(QStringLiteral("Связь"));
            // Writing starts; Cancel ends it before its first tick.
            Find<QPushButton>(*editor, "ok")->click();
            EXPECT_TRUE(editor->WriteTimer()->isActive());
            Find<QPushButton>(*editor, "cancel")->click();
            EXPECT_FALSE(editor->WriteTimer()->isActive());
        });
        box->button(QMessageBox::Ok)->click();
    });
    QTest::mouseClick(Find<QPushButton>(*dlg, "sendSms"), Qt::LeftButton);
    EXPECT_TRUE(seen);
    EXPECT_EQ(registers.WriteCount(), 0u);
    EXPECT_EQ(dlg->Device().master.responseTimeout, 300u);
    EXPECT_EQ(dlg->Device().master.attempts, 1);
    EXPECT_EQ(dlg->PollTimer()->interval(), 1600);
    EXPECT_TRUE(dlg->PollTimer()->isActive());
    EXPECT_TRUE(dlg->Device().settingsLoaded);   // not touched
}

TEST_F(SmsEditTest, AFullWriteLeavesExactlyTheTwentyTwoBlocks)
{
    SetHoldingBytes(17, QByteArrayLiteral("+79161234567"));   // smsPhone, bytes 34 .. 45
    auto dlg = OpenLoaded();
    // What is typed in the window is not what the PDUs are addressed to.
    Find<QLineEdit>(*dlg, "smsPhone")->setText(QStringLiteral("+7(999)999-99-99"));
    RecordWrites();
    const auto requests = slave.RequestCount();

    QString lastStatus;
    bool closedByItself = false;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        WhenModal<CSMSEditDlg>([&](CSMSEditDlg* editor) {
            ASSERT_TRUE(QTest::qWaitFor([editor] { return editor->SlotsRead(); }));
            for (int n = 0; n < CSMSEditDlg::kTexts; ++n)
                Edit(editor, n)->clear();
            Edit(editor, 0)->setText(QStringLiteral("Тест"));
            Edit(editor, 7)->setText(QStringLiteral("Ab"));
            QObject::connect(editor, &QDialog::finished, editor, [&, editor](int result) {
                lastStatus = Status(editor);
                closedByItself = result == QDialog::Accepted;
            });
            Find<QPushButton>(*editor, "ok")->click();
        });
        box->button(QMessageBox::Ok)->click();
    });
    QTest::mouseClick(Find<QPushButton>(*dlg, "sendSms"), Qt::LeftButton);

    EXPECT_TRUE(closedByItself);
    EXPECT_EQ(lastStatus, QStringLiteral("Запись строки 10, часть 1."));
    EXPECT_EQ(Writes(), AllBlocks());
    EXPECT_EQ(slave.RequestCount() - requests, 22u + 22u);   // 22 reads, 22 writes, nothing more
    for (int slot = 0; slot < CSMSEditDlg::kTexts; ++slot) {
        const char* text = slot == 0 ? "080422043504410442" : slot == 7 ? "0400410062" : "00";
        const QByteArray expected = SlotBytes("9761214365F7", text);
        EXPECT_EQ(HoldingBytes(static_cast<std::uint16_t>(256 * slot + 128), 64) +
                      HoldingBytes(static_cast<std::uint16_t>(256 * slot + 256), 64),
                  expected)
            << slot;
    }
    EXPECT_EQ(dlg->PollTimer()->interval(), 1600);
    EXPECT_TRUE(dlg->PollTimer()->isActive());
}

TEST_F(SmsEditTest, AFailedBlockStopsWritingWithItsStatusAndOkStartsAgain)
{
    auto dlg = OpenLoaded();
    RecordWrites();
    // The controller refuses everything after its fifth accepted block.
    slave.SetWriteHook([this] {
        const auto request = slave.LastRequest();
        std::lock_guard guard(mutex_);
        writes_.push_back(static_cast<std::uint16_t>(request[2] << 8 | request[3]));
        if (writes_.size() == 5) {
            T_SLAVEFAULTS refuse;
            refuse.exceptionCode = 4;
            slave.SetFaults(refuse);
        }
    });

    WhenModal<QMessageBox>([&](QMessageBox* box) {
        WhenModal<CSMSEditDlg>([&](CSMSEditDlg* editor) {
            ASSERT_TRUE(QTest::qWaitFor([editor] { return editor->SlotsRead(); }));
            const auto before = slave.RequestCount();
            Find<QPushButton>(*editor, "ok")->click();
            ASSERT_TRUE(QTest::qWaitFor([editor] { return Status(editor).startsWith(QStringLiteral("Строка")); }));
            EXPECT_EQ(Status(editor), QStringLiteral("Строка 2, часть 1. Modbus device return an exception code 4"));
            EXPECT_FALSE(editor->WriteTimer()->isActive());
            EXPECT_TRUE(editor->isVisible());
            EXPECT_EQ(slave.RequestCount() - before, 5u + 5u);   // the failed block had its five attempts
            slave.SetFaults({});
            Find<QPushButton>(*editor, "ok")->click();
        });
        box->button(QMessageBox::Ok)->click();
    });
    QTest::mouseClick(Find<QPushButton>(*dlg, "sendSms"), Qt::LeftButton);

    const std::vector<std::uint16_t> all = AllBlocks();
    std::vector<std::uint16_t> expected(all.begin(), all.begin() + 5);
    expected.insert(expected.end(), all.begin(), all.end());
    EXPECT_EQ(Writes(), expected);
}

TEST_F(SmsEditTest, AFailedReadShowsTheMastersTextAndLeavesTheTextsEmpty)
{
    auto dlg = OpenLoaded();
    T_SLAVEFAULTS refuse;
    refuse.exceptionCode = 4;
    slave.SetFaults(refuse);
    QString message;
    bool empty = false;
    WhenModal<QMessageBox>([&](QMessageBox* question) {
        // The editor reads as soon as it runs: the box of the failed read
        // stands over it.
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            message = box->text();
            auto* editor = qobject_cast<CSMSEditDlg*>(box->parentWidget());
            ASSERT_NE(editor, nullptr);
            box->button(QMessageBox::Ok)->click();
            empty = editor->SlotsRead();
            for (int n = 0; n < CSMSEditDlg::kTexts; ++n)
                empty = empty && Edit(editor, n)->text().isEmpty();
            editor->reject();
        });
        question->button(QMessageBox::Ok)->click();
    });
    QTest::mouseClick(Find<QPushButton>(*dlg, "sendSms"), Qt::LeftButton);
    EXPECT_EQ(message, QStringLiteral("Modbus device return an exception code 4"));
    EXPECT_TRUE(empty);
    EXPECT_EQ(registers.WriteCount(), 0u);
}

TEST_F(SmsEditTest, AStopSignalEndsTheEditorWhileItWrites)
{
    auto dlg = OpenLoaded();
    dlg->SetSmsWriteInterval(20);
    QPointer<QTimer> writeTimer;
    std::uint64_t writtenAtStop = 0;
    QTimer::singleShot(0, dlg.get(), [&] {
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            WhenModal<CSMSEditDlg>([&](CSMSEditDlg* editor) {
                ASSERT_TRUE(QTest::qWaitFor([editor] { return editor->SlotsRead(); }));
                writeTimer = editor->WriteTimer();
                Find<QPushButton>(*editor, "ok")->click();
                ASSERT_TRUE(QTest::qWaitFor([this] { return registers.WriteCount() >= 3; }));
                dlg->CloseOnStopSignal();
                writtenAtStop = registers.WriteCount();
                EXPECT_FALSE(writeTimer->isActive());
            });
            box->button(QMessageBox::Ok)->click();
        });
        QTest::mouseClick(Find<QPushButton>(*dlg, "sendSms"), Qt::LeftButton);
    });
    EXPECT_EQ(dlg->exec(), QDialog::Rejected);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(writeTimer.isNull());   // the editor is gone with its timer
    EXPECT_GE(writtenAtStop, 3u);
    EXPECT_LT(writtenAtStop, 22u);
    EXPECT_EQ(registers.WriteCount(), writtenAtStop);
    EXPECT_FALSE(dlg->Device().master.IsOpen());
    EXPECT_FALSE(dlg->PollTimer()->isActive());
}

} // namespace
