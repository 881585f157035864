#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <csignal>

#include "app/polling_timers.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/time_scale.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"
#include "state/test_state.h"

extern char** environ;

namespace {

// The virtual instrument on a pseudo-terminal, for one test.
class Instrument {
  public:
    Instrument(const QString& link, const QString& log, int speed) {
        const std::string sim = std::string(KIVO_BINARY_DIR) + "/tools/kivo-sim/kivo-sim";
        std::vector<std::string> args = {sim,
                                         "--link",
                                         link.toStdString(),
                                         "--log",
                                         log.toStdString(),
                                         "--speed",
                                         std::to_string(speed)};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, sim.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
    }
    ~Instrument() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    bool running() const { return m_pid > 0; }

  private:
    pid_t m_pid = -1;
};

// A whole test against the virtual instrument: initialise, start, records at every
// interval, and the end when the instrument's minute count reaches the duration.
TEST(EndToEnd, ATestRunsToItsEndAgainstTheVirtualInstrument) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath("com1");
    const QString log = dir.filePath("requests.log");
    constexpr int kSpeed = 30;
    Instrument instrument(link, log, kSpeed);
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
        EXPECT_FALSE(timers.isActive(PollingTimers::kTestTimer));
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

}  // namespace
