#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/file_dialog.h"
#include "platform/gbk_codec.h"
#include "platform/gui_gate.h"
#include "platform/manual_reset_event.h"
#include "platform/message_box.h"
#include "state/test_state.h"
#include "support/scripted_dialogs.h"

namespace {

void pumpUntil(const std::function<bool()>& done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(GbkCodec, RoundTripsChineseAndRefusesWhatGbkCannotHold) {
    const QString text = QStringLiteral("混凝土氯离子电通量测定仪 admin 579 (mA)");
    auto bytes = gbk::encode(text);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(bytes->left(2), QByteArray("\xBB\xEC"));  // 混
    EXPECT_EQ(gbk::decode(*bytes), text);
    EXPECT_FALSE(gbk::encode(QStringLiteral("测试😀")).has_value());
    EXPECT_FALSE(gbk::canEncode(QStringLiteral("한국어")));
    EXPECT_EQ(gbk::decode(QByteArray("ab\xFF")), QStringLiteral("ab\uFFFD"));
}

TEST(ManualResetEventTest, StaysSetUntilReset) {
    ManualResetEvent event;
    EXPECT_FALSE(event.wait_for(5));
    std::thread setter([&] { event.set(); });
    EXPECT_TRUE(event.wait_for(30000));
    setter.join();
    EXPECT_TRUE(event.wait_for(0));
    event.reset();
    EXPECT_FALSE(event.isSet());
}

TEST(GuiGateTest, WorkerMessageBoxIsShownOnTheGuiThread) {
    ScriptedMessageBoxes boxes;
    boxes.answer({MessageBox::Cancel});
    GuiGate::instance().open();
    std::atomic<bool> done{false};
    std::atomic<int> result{0};
    QThread* shownOn = nullptr;
    MessageBox::setResponder([&](QWidget*, const MessageBox::Request& request) {
        shownOn = QThread::currentThread();
        EXPECT_EQ(request.caption, "Kivo");
        return MessageBox::Cancel;
    });
    std::thread worker([&] {
        result = MessageBox::show(nullptr, QStringLiteral("串口未打开!"));
        done = true;
    });
    pumpUntil([&] { return done.load(); });
    worker.join();
    EXPECT_EQ(shownOn, QCoreApplication::instance()->thread());
    EXPECT_EQ(result.load(), MessageBox::Cancel);
}

// The real box of choose(): its buttons in the order given, each with its mnemonic; Escape
// takes the safe choice.
TEST(MessageBoxTest, ChoicesKeepTheirOrderAndTheirKeys) {
    MessageBox::setResponder(nullptr);
    QStringList shown;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        QList<QAbstractButton*> buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(),
                  [](QAbstractButton* a, QAbstractButton* b) { return a->x() < b->x(); });
        for (QAbstractButton* button : buttons) shown << button->shortcut().toString();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(box, &escape);
    });
    EXPECT_EQ(MessageBox::choose(nullptr, "?", {"恢复(&R)", "以后再说(&L)", "放弃(&A)"}, 1), 1);
    EXPECT_EQ(shown, (QStringList{"Alt+R", "Alt+L", "Alt+A"}));
}

TEST(GuiGateTest, ClosedGateReleasesWaitingThreadsWithoutRunning) {
    GuiGate::instance().open();
    std::atomic<bool> ran{false}, returned{false}, reached{true};
    std::thread worker([&] {
        reached = GuiGate::instance().run([&] { ran = true; });
        returned = true;
    });
    // The GUI thread does not pump: the call stays pending until the gate closes.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    GuiGate::instance().close();
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_TRUE(returned.load());
    EXPECT_FALSE(reached.load());
    EXPECT_FALSE(ran.load());
    GuiGate::instance().open();
}

TEST(FileDialogTest, DefaultSuffixIsAddedOnlyWithoutOne) {
    EXPECT_EQ(FileDialog::withDefaultSuffix("/tmp/a/2010-5-7", "BMP"), "/tmp/a/2010-5-7.BMP");
    EXPECT_EQ(FileDialog::withDefaultSuffix("/tmp/a.b/run", "bln"), "/tmp/a.b/run.bln");
    EXPECT_EQ(FileDialog::withDefaultSuffix("/tmp/x.xls", "xls"), "/tmp/x.xls");
    EXPECT_EQ(FileDialog::withDefaultSuffix("", "xls"), "");
}

TEST(CommandQueueTest, TwentyCodesWithoutAReadLookEmpty) {
    ResetTestStateForTests();
    EnqueueCommand(CMD_READ_TEST);
    EXPECT_NE(g_cmdQueueHead.load(), g_cmdQueueTail.load());
    for (int i = 1; i < COMMAND_QUEUE_SIZE; ++i) EnqueueCommand(CMD_READ_CHANNELS);
    EXPECT_EQ(g_cmdQueueHead.load(), g_cmdQueueTail.load());
    EXPECT_EQ(g_cmdQueue[0].load(), CMD_READ_TEST);
    EXPECT_EQ(g_cmdQueue[19].load(), CMD_READ_CHANNELS);
}

}  // namespace

#include <QFile>
#include <QTemporaryDir>

#include "app/install_check.h"
#include "platform/date_text.h"
#include "platform/program_folder.h"
#include "platform/time_scale.h"

namespace {

TEST(TimeScaleTest, FasterClockShortensPeriodsButNeverToZero) {
    TimeScale::setFactor(30);
    EXPECT_EQ(TimeScale::wallMs(2000), 67);
    EXPECT_EQ(TimeScale::wallMs(10), 1);  // a positive period stays positive
    EXPECT_EQ(TimeScale::wallMs(0), 0);
    TimeScale::setFactor(0.5);  // a slower clock is not offered: back to the wall clock
    EXPECT_EQ(TimeScale::wallMs(2000), 2000);
    TimeScale::setFactor(1);
}

TEST(DateTextTest, NoLeadingZeros) {
    EXPECT_EQ(DateText(QDate(2010, 5, 7)), "2010-5-7");
    EXPECT_EQ(DateText(QDate(2026, 12, 17)), "2026-12-17");
}

TEST(InstallCheckTest, NamesWhatIsMissingBesideTheProgram) {
    QTemporaryDir dir;
    ProgramFolder::setForTests(dir.path());
    QString report;
    EXPECT_EQ(CheckInstall(&report), 1);
    EXPECT_TRUE(report.contains("模板.xls: 缺少")) << report.toStdString();
    QFile(dir.filePath("模板.xls")).open(QIODevice::WriteOnly);
    EXPECT_EQ(CheckInstall(&report), 1);  // the account file is still missing
    EXPECT_TRUE(report.contains("data.bk: 缺少")) << report.toStdString();
    QFile accounts(dir.filePath("data.bk"));
    ASSERT_TRUE(accounts.open(QIODevice::WriteOnly));
    accounts.write("admin\r\n579\r\n");
    accounts.close();
    EXPECT_EQ(CheckInstall(&report), 0) << report.toStdString();
    EXPECT_TRUE(report.contains("有, 可写")) << report.toStdString();
    ProgramFolder::setForTests(QString());
}

}  // namespace
