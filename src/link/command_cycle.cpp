#include "link/command_cycle.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>

#include "link/link_threads.h"
#include "link/link_view.h"
#include "link/serial_channel.h"
#include "platform/thread_name.h"
#include "state/test_state.h"

namespace {

std::mutex g_timingMutex;
CycleTiming g_timing;

// Channel addresses of the current requests and of the charge requests: channel k has
// address 9 + k.
constexpr std::array<std::array<int, CHANNELS_IN_USE>, 2> g_nChannelAddr = {
    {{10, 11, 12, 13, 14, 15}, {10, 11, 12, 13, 14, 15}}};

const QString kCommFault = QStringLiteral("通信故障");

// How a wait ended.
enum class Wait { Reply, Silence, Stop };
// How an exchange with repetition ended.
enum class Exchange { Answered, Failed, FailedEarlier, Stop };

// The command queue has one reader at a time. Every cycle is started with a stop event of
// its own; starting a new cycle sets the stop event of the one before, and a cycle touches
// the queue only while it holds the queue's lease, which it takes before its first look and
// keeps until it ends. A new cycle thus waits (on its own thread) until the one before has
// seen its stop and ended: two cycles never share the queue.
class QueueLease {
  public:
    static QueueLease& instance() {
        static QueueLease lease;
        return lease;
    }

    // The stop event of the cycle about to start: the form's, unless it is missing, set, or
    // still the previous cycle's (which it now ends); then a new one in the form's slot.
    std::shared_ptr<ManualResetEvent> handOver(SharedEvent& slot) {
        std::lock_guard lock(m_handOverMutex);
        if (m_lastStop) m_lastStop->set();
        std::shared_ptr<ManualResetEvent> stop = slot.get();
        if (!stop || stop == m_lastStop || stop->isSet()) stop = slot.create();
        m_lastStop = stop;
        return stop;
    }

    std::mutex& reader() { return m_readerMutex; }

  private:
    std::mutex m_handOverMutex;
    std::shared_ptr<ManualResetEvent> m_lastStop;  // the newest cycle's
    std::mutex m_readerMutex;                      // held by the cycle that reads the queue
};

class CommandCycle {
  public:
    CommandCycle(std::shared_ptr<LinkView> view, CycleTiming timing,
                 std::shared_ptr<ManualResetEvent> stop)
        : m_view(std::move(view)), m_timing(timing), m_stop(std::move(stop)) {}

    void run() {
        // A cycle replaced before its thread took the queue (a thread that started late) ends
        // at once: waiting for the lease would park it until the newer cycle ended.
        std::unique_lock lease(QueueLease::instance().reader(), std::defer_lock);
        while (!lease.try_lock())
            if (pause(10)) return;
        while (g_bWorkerRun.load()) {
            if (stopRequested()) return;
            const uint8_t code = g_nCurCommand.load();
            if (!execute(code)) return;
            if (runnable(code)) m_view->commandEnded();
            // A code just taken from the queue runs at once; otherwise the cycle sleeps until
            // a code is queued or set, or it is told to stop.
            if (!takeQueuedCode() && idleWait()) return;
        }
    }

  private:
    // Runs `code` when it is one of the cycle's; false when the thread is to end.
    bool execute(uint8_t code) {
        switch (code) {
            case CMD_READ_TEST:
                return readTest();
            case CMD_CHECK_MINUTES:
                return checkMinutes();
            case CMD_READ_CHANNELS:
                return readChannels();
            case CMD_READ_RUNSTATE:
                return readRunState();
            default:
                return true;
        }
    }

    static bool runnable(uint8_t code) {
        return code == CMD_READ_TEST || code == CMD_CHECK_MINUTES || code == CMD_READ_CHANNELS ||
               code == CMD_READ_RUNSTATE;
    }

    bool takeQueuedCode() {
        const uint8_t tail = g_cmdQueueTail.load();
        if (tail == g_cmdQueueHead.load()) return false;
        g_nCurCommand = g_cmdQueue[tail].load();
        g_cmdQueueTail = tail >= COMMAND_QUEUE_SIZE - 1 ? 0 : static_cast<uint8_t>(tail + 1);
        return true;
    }

    // Sleeps until there is something to do; true when told to stop. The event is reset
    // before the look at the queue, so a code queued in between still wakes the wait.
    bool idleWait() {
        g_evtCommandQueued.reset();
        if (runnable(g_nCurCommand.load()) || g_cmdQueueTail.load() != g_cmdQueueHead.load())
            return stopRequested();
        return waitFor(&g_evtCommandQueued, -1) == Wait::Stop;
    }

    bool stopRequested() const { return g_bWorkerRun.load() == 0 || m_stop->isSet(); }

    // Waits up to `ms` (without end when negative) for `event`; a stop (the cycle's stop
    // event, or g_bWorkerRun cleared) ends the wait at once.
    Wait waitFor(const ManualResetEvent* event, int ms) const {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
        for (;;) {
            int turn = ms;
            if (ms >= 0) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                        .count();
                turn = static_cast<int>(std::max<long long>(left, 0));
            }
            const int woken = WaitForAny({m_stop.get(), &g_bWorkerRun.cleared(), event}, turn);
            if (woken == 0 || woken == 1) return Wait::Stop;
            if (woken == 2) return Wait::Reply;
            if (ms >= 0 && Clock::now() >= deadline) return Wait::Silence;
        }
    }

    // The short check after a repetition: true when told to stop.
    bool pause(int ms) { return waitFor(nullptr, ms) == Wait::Stop; }

    Wait request(ManualResetEvent& reply, const QString& text) {
        reply.reset();
        SendCommand(text, m_view.get());
        return waitFor(&reply, m_timing.replyMs);
    }

    // After a first request went unanswered: up to six repeats; an answer to any of the
    // first five counts, and once the sixth has been waited for the exchange has failed.
    Exchange repeat(ManualResetEvent& reply, const QString& text) {
        if (g_nRetry.load() > 5) return Exchange::FailedEarlier;
        m_view->repeating();
        g_nRetry = 0;
        for (;;) {
            const Wait wait = request(reply, text);
            if (wait == Wait::Stop) return Exchange::Stop;
            if (g_nRetry.fetch_add(1) + 1 > 5) return Exchange::Failed;
            if (g_bWorkerRun.load() == 0) return Exchange::Stop;
            if (wait == Wait::Reply) return Exchange::Answered;
        }
    }

    void fail(const QString& message) {
        m_view->setField(LinkView::Field::CommStatus, kCommFault);
        m_view->message(message);
        m_view->StopTest();
    }

    // Code 1: temperature and minutes, or the initialisation check before the first start.
    bool readTest() {
        const QString temperature = QStringLiteral("00R030");
        const Wait wait = request(g_hEvtTemperature, temperature);
        if (wait == Wait::Stop) return false;
        if (!m_view->started()) {
            if (wait == Wait::Silence) {
                m_view->setField(LinkView::Field::CommStatus, kCommFault);
                m_view->message(QStringLiteral("通信失败1!"));
                m_view->setButtonEnabled(LinkView::Button::Init, true);
                g_nCurCommand = 0;
                return false;
            }
            g_nLastRecord = 0;
            g_nRetry = 0;
            m_view->setButtonEnabled(LinkView::Button::Init, false);
            m_view->setButtonEnabled(LinkView::Button::Start, true);
            EmptyCommandQueue();
            for (auto& slot : g_cmdQueue) slot = 0;
        } else {
            if (wait == Wait::Silence && g_nRetry.load() <= 5) {
                const Exchange exchange = repeat(g_hEvtTemperature, temperature);
                if (exchange == Exchange::Stop) return false;
                if (exchange == Exchange::Failed) fail(QStringLiteral("通信失败2!"));
            }
            m_view->setField(LinkView::Field::Voltage, QStringLiteral("60 V"));
        }
        if (request(g_hEvtMinutes, QStringLiteral("00R031")) == Wait::Stop) return false;
        g_nCurCommand = 0;
        return true;
    }

    // One channel request, repeated when unanswered; a lasting silence reports `failure`.
    // False when the thread is to end.
    bool channelRequest(ManualResetEvent& reply, const QString& text, const QString& failure) {
        const Wait wait = request(reply, text);
        if (wait == Wait::Stop) return false;
        if (wait == Wait::Silence) {
            const Exchange exchange = repeat(reply, text);
            if (exchange == Exchange::Stop) return false;
            if (exchange == Exchange::Failed) fail(failure);
            if (pause(m_timing.passMs)) return false;
        }
        return true;
    }

    // Code 3: the current and the charge of every channel, addresses 10 to 15.
    bool readChannels() {
        if (g_nRetry.load() <= 5) {
            for (int i = 0; i < CHANNELS_IN_USE; ++i) {
                QString address = QString::number(g_nChannelAddr[0][i]);
                if (address.size() < 2) address.prepend('0');
                if (!channelRequest(g_hEvtCurrent, address + QStringLiteral("R010"),
                                    QStringLiteral("通信失败!") + address))
                    return false;
                if (g_nRetry.load() > 5) break;

                address = QString::number(g_nChannelAddr[1][i]);
                if (!channelRequest(g_hEvtCharge, address + QStringLiteral("R060"),
                                    QStringLiteral("通信失败4!")))
                    return false;
                if (g_nRetry.load() > 5) break;
            }
            m_view->channelPollDone();
        }
        g_nCurCommand = 0;
        return true;
    }

    // Code 2: the minute count of a recovered test, asked once before it resumes. The run
    // control decides what follows.
    bool checkMinutes() {
        const QString text = QStringLiteral("00R031");
        Wait wait = request(g_hEvtMinutes, text);
        if (wait == Wait::Stop) return false;
        bool answered = wait == Wait::Reply;
        if (!answered) {
            const Exchange exchange = repeat(g_hEvtMinutes, text);
            if (exchange == Exchange::Stop) return false;
            answered = exchange == Exchange::Answered;
        }
        if (!answered) {
            m_view->setField(LinkView::Field::CommStatus, kCommFault);
            m_view->message(QStringLiteral("通信失败1!"));
            m_view->setButtonEnabled(LinkView::Button::Start, true);
            g_nCurCommand = 0;
            return true;
        }
        ResumeDecision decision = m_view->resumeChecked(g_nInstrumentMinutes.load());
        const bool readCharges = decision == ResumeDecision::ReadChargesFirst;
        if (readCharges) {
            // A poll of the channels, then the decision again with their charges shown. A
            // failed poll has been reported; the next start asks again.
            g_nCurCommand = CMD_READ_CHANNELS;
            if (!readChannels()) return false;
            if (g_nRetry.load() > 5) {
                m_view->setButtonEnabled(LinkView::Button::Start, true);
                return true;
            }
            decision = m_view->resumeChecked(g_nInstrumentMinutes.load());
        }
        if (decision == ResumeDecision::FinishNow) {
            // The duration passed while the program was away: one last poll of the channels,
            // then the end of the test as the minute count would have ended it.
            g_nCurCommand = CMD_READ_CHANNELS;
            if (!readCharges && !readChannels()) return false;
            m_view->FinishTest(true, QStringLiteral("请确认是否保存图片！"));
            return false;
        }
        g_nCurCommand = 0;
        return true;
    }

    // Code 6: the run state; the decoder acts on the reply.
    bool readRunState() {
        if (request(g_hEvtRunState, QStringLiteral("02R071")) == Wait::Stop) return false;
        g_nCurCommand = 0;
        return true;
    }

    std::shared_ptr<LinkView> m_view;
    CycleTiming m_timing;
    const std::shared_ptr<ManualResetEvent> m_stop;  // this cycle's alone, never replaced
};

}  // namespace

bool StartCommandCycle(std::shared_ptr<LinkView> view) {
    LinkThreads::joinFinished();
    const CycleTiming timing = CommandCycleTiming();
    std::shared_ptr<ManualResetEvent> stop = QueueLease::instance().handOver(view->stopEvent());
    return LinkThreads::start([view = std::move(view), timing, stop = std::move(stop)] {
        NameThisThread("kivo-commands");
        CommandCycle(view, timing, stop).run();
    });
}

CycleTiming CommandCycleTiming() {
    std::lock_guard lock(g_timingMutex);
    return g_timing;
}

void SetCommandCycleTimingForTests(CycleTiming timing) {
    std::lock_guard lock(g_timingMutex);
    g_timing = timing;
}
