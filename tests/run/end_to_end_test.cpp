#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "app/polling_timers.h"
#include "e2e/virtual_instrument.h"
#include "link/command_cycle.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/time_scale.h"
#include "state/test_state.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"

namespace {

// A whole test against the virtual instrument: initialise, start, records at every
// interval, and the end when the instrument's minute count reaches the duration.
TEST(EndToEnd, ATestRunsToItsEndAgainstTheVirtualInstrument) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath("com1");
    const QString log = dir.filePath("requests.log");
    constexpr int kSpeed = 30;
    VirtualInstrument instrument(link, log, QStringList{"--speed", QString::number(kSpeed)});
    ASSERT_TRUE(instrument.running());
    ASSERT_TRUE(PumpUntil([&] { return QFile::exists(link); }));

    ResetTestStateForTests();
    qputenv("KIVO_COM1", link.toLocal8Bit());
    TimeScale::setFactor(kSpeed);
    g_nTestMinutes = 3;
    g_nRecordInterval = 1;
    g_bLinkActive = 1;
    ScriptedMessageBoxes boxes;
    boxes.answer({MessageBox::Cancel, MessageBox::Cancel});
    PollingTimers timers;
    {
        Testclass form;
        form.OnInitialUpdate();
        ASSERT_EQ(boxes.count(), 0) << boxes.texts().join(' ').toStdString();

        form.OnDeviceInit();
        // The initialisation check is answered: 1087 stays off, nothing is reported.
        PumpFor(300);
        EXPECT_FALSE(form.item(FormId::InitButton)->isEnabled());
        form.OnStartTest();
        ASSERT_TRUE(PumpUntil([&] { return boxes.count() >= 2; }, 30000))
            << boxes.texts().join(' ').toStdString();

        EXPECT_EQ(boxes.texts(), (QStringList{"请确认是否保存图片！", "请确认是否保存数据！"}));
        EXPECT_EQ(form.itemTextOnGui(FormId::RemainingMinutes), "完成");
        EXPECT_EQ(form.channelCellOnGui(0, ChannelColumn::Status), "完成");
        // A record 5 s after the start, one a minute, one at the end.
        const int rows = form.historyRowCount(0);
        EXPECT_GE(rows, 3);
        EXPECT_LE(rows, 6);
        for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
            EXPECT_EQ(form.historyRowCount(slot), rows);
            EXPECT_TRUE(form.historyCell(slot, rows - 1, 2).endsWith("(mA)"));
            EXPECT_TRUE(form.historyCell(slot, rows - 1, 3).endsWith("(C)"));
        }
        EXPECT_EQ(form.historyCell(0, rows - 1, 1), QString::number(rows));
        // The timers' stop is posted as the test finishes: it may arrive after the questions.
        EXPECT_TRUE(PumpUntil([&] { return !timers.isActive(PollingTimers::kTestTimer); }));
        // The link threads end by themselves after the finish.
        EXPECT_TRUE(PumpUntil([] {
            LinkThreads::joinFinished();
            return LinkThreads::count() == 0;
        }));
    }
    TimeScale::setFactor(1);
    qunsetenv("KIVO_COM1");

    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString requests = QString::fromLatin1(file.readAll());
    const qsizetype init = requests.indexOf("00W070 1111");
    const qsizetype start = requests.indexOf("01W071 1111");
    const qsizetype stop = requests.indexOf("00W071 0000");
    EXPECT_TRUE(init >= 0 && start > init && stop > start) << requests.toStdString();
}

// The test state, a test window's flags and the virtual instrument as COM1, at `speed`;
// the command cycle gives up on silence within a second.
void PrepareRun(const QString& link, int speed) {
    ResetTestStateForTests();
    qputenv("KIVO_COM1", link.toLocal8Bit());
    TimeScale::setFactor(speed);
    g_nTestMinutes = 1000;
    g_nRecordInterval = 1;
    g_bLinkActive = 1;
    SetCommandCycleTimingForTests({2, 100});
}

void EndRun() {
    SetCommandCycleTimingForTests(CycleTiming{});
    TimeScale::setFactor(1);
    qunsetenv("KIVO_COM1");
}

QStringList Requests(const QString& log) {
    QFile file(log);
    QStringList texts;
    if (!file.open(QIODevice::ReadOnly)) return texts;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        if (tab >= 0) texts << QString::fromLatin1(line.mid(tab + 1));
    }
    return texts;
}

// The adapter is pulled out mid-test (the instrument's link goes away with its terminal)
// and plugged in again: the next 开始实验 opens the device by itself.
TEST(EndToEnd, AnInstrumentPulledOutAndPluggedInAgainIsUsedByTheNextStart) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath("com1");
    constexpr int kSpeed = 30;
    const QStringList speed{"--speed", QString::number(kSpeed)};
    auto instrument = std::make_unique<VirtualInstrument>(link, dir.filePath("first.log"), speed);
    ASSERT_TRUE(PumpUntil([&] { return QFile::exists(link); }));
    PrepareRun(link, kSpeed);
    ScriptedMessageBoxes boxes;
    PollingTimers timers;
    {
        Testclass form;
        form.OnInitialUpdate();
        form.OnDeviceInit();
        ASSERT_TRUE(PumpUntil([&] { return form.item(FormId::StartButton)->isEnabled(); }));
        form.OnStartTest();
        ASSERT_TRUE(PumpUntil(
            [&] { return form.channelCellOnGui(5, ChannelColumn::Charge).endsWith("(C)"); }));

        instrument.reset();  // pulled out
        ASSERT_TRUE(PumpUntil([&] { return boxes.count() == 1 && g_bTesting == 0; }));
        EXPECT_TRUE(boxes.texts()[0].startsWith("通信失败")) << boxes.texts()[0].toStdString();
        EXPECT_EQ(form.itemTextOnGui(FormId::CommStatus), "通信故障");

        form.OnStartTest();  // still out: the message says what to do, nothing starts
        ASSERT_EQ(boxes.count(), 2);
        EXPECT_TRUE(boxes.texts()[1].contains(link)) << boxes.texts()[1].toStdString();
        EXPECT_TRUE(boxes.texts()[1].contains("请插好"));
        EXPECT_EQ(g_bTesting, 0);

        const QString log = dir.filePath("second.log");
        instrument = std::make_unique<VirtualInstrument>(link, log, speed);  // plugged in again
        ASSERT_TRUE(PumpUntil([&] { return QFile::exists(link); }));
        form.setChannelCellOnGui(5, ChannelColumn::Charge, QString());
        form.OnStartTest();
        EXPECT_EQ(g_bTesting, 1);
        ASSERT_TRUE(PumpUntil(
            [&] { return form.channelCellOnGui(5, ChannelColumn::Charge).endsWith("(C)"); }));
        EXPECT_EQ(form.itemTextOnGui(FormId::CommStatus), "通信正常");
        PumpFor(1000);
        EXPECT_EQ(boxes.count(), 2) << boxes.texts().join(' ').toStdString();
        EXPECT_EQ(g_bTesting, 1);
        const QStringList requests = Requests(log);
        ASSERT_FALSE(requests.isEmpty());
        EXPECT_EQ(requests[0], "01W071 1111");
        form.OnStartTest();  // pause
    }
    EndRun();
}

// A finished test stays finished, however it ended (the minute count reaching 实验时间, or the
// instrument's own timer): after 完成 and both questions the window offers its saves and 关闭,
// never a new start or an initialisation (a new test needs a new window).
TEST(EndToEnd, AFinishedTestCannotBeStartedAgainAfterEitherEnding) {
    struct Ending {
        const char* what;
        int testMinutes;
        QStringList simOptions;
        const char* firstQuestion;
        int stopCommands;  // "00W071 0000" sent by the program
    };
    const Ending endings[] = {
        {"the minute count", 1, {}, "请确认是否保存图片！", 1},
        {"the instrument stopping by itself", 10, {"--duration", "1"}, "请确认是否保存图片2！", 0},
    };
    constexpr int kSpeed = 60;  // a minute of the instrument each second
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.what);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString link = dir.filePath("com1");
        const QString log = dir.filePath("requests.log");
        VirtualInstrument instrument(
            link, log, QStringList{"--speed", QString::number(kSpeed)} + ending.simOptions);
        ASSERT_TRUE(PumpUntil([&] { return QFile::exists(link); }));
        PrepareRun(link, kSpeed);
        g_nTestMinutes = ending.testMinutes;
        ScriptedMessageBoxes boxes;
        boxes.answer({MessageBox::Cancel, MessageBox::Cancel});
        PollingTimers timers;
        {
            Testclass form;
            form.OnInitialUpdate();
            form.OnStartTest();
            ASSERT_TRUE(PumpUntil([&] { return boxes.count() >= 2; }, 30000));
            EXPECT_EQ(boxes.texts().value(0), QString::fromUtf8(ending.firstQuestion));
            EXPECT_EQ(form.itemTextOnGui(FormId::RemainingMinutes), "完成");
            // Whatever the link still has to say comes in this time.
            PumpFor(1500);
            EXPECT_EQ(form.itemTextOnGui(FormId::StartButton), "开始实验");
            EXPECT_FALSE(form.item(FormId::StartButton)->isEnabled());
            EXPECT_FALSE(form.item(FormId::InitButton)->isEnabled());
            for (int id :
                 {FormId::SaveText, FormId::SaveChart, FormId::SaveExcel, FormId::CloseTest})
                EXPECT_TRUE(form.item(id)->isEnabled()) << id;
            EXPECT_EQ(boxes.count(), 2) << boxes.texts().join(' ').toStdString();
            EXPECT_EQ(Requests(log).count("01W071 1111"), 1);
            EXPECT_EQ(Requests(log).count("00W071 0000"), ending.stopCommands);
        }
        EndRun();
    }
}

}  // namespace
