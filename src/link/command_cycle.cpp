#include "link/command_cycle.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <thread>

#include "link/link_threads.h"
#include "link/serial_channel.h"
#include "state/test_state.h"
#include "link/link_view.h"

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

class CommandCycle {
  public:
    CommandCycle(std::shared_ptr<LinkView> view, CycleTiming timing)
        : m_view(std::move(view)), m_timing(timing) {}

    void run() {
        // A code just taken from the queue runs on the next pass without that pass's idle
        // wait: the wait is there to keep an idle cycle quiet, not to delay the requests.
        bool codeTaken = false;
        while (g_bWorkerRun.load()) {
            if (codeTaken ? stopRequested() : idlePause(m_timing.passMs)) return;
            bool goOn = true;
            switch (g_nCurCommand.load()) {
                case CMD_READ_TEST:
                    goOn = readTest();
                    break;
                case CMD_READ_CHANNELS:
                    goOn = readChannels();
                    break;
                case CMD_READ_RUNSTATE:
                    goOn = readRunState();
                    break;
                default:
                    break;
            }
            if (!goOn) return;
            g_evtCommandQueued.reset();
            const uint8_t tail = g_cmdQueueTail.load();
            if (tail != g_cmdQueueHead.load()) {
                g_nCurCommand = g_cmdQueue[tail].load();
                g_cmdQueueTail =
                    tail >= COMMAND_QUEUE_SIZE - 1 ? 0 : static_cast<uint8_t>(tail + 1);
                codeTaken = true;
            } else {
                codeTaken = false;
            }
        }
    }

  private:
    // The form's stop event. It may be created after the thread starts and forgotten when it
    // is set, so the last one seen is kept: once set, it stays set for this thread.
    bool stopEventSet() {
        if (std::shared_ptr<ManualResetEvent> current = m_view->stopEvent().get())
            m_stop = std::move(current);
        return m_stop && m_stop->isSet();
    }

    bool stopRequested() { return g_bWorkerRun.load() == 0 || stopEventSet(); }

    // Waits up to `ms` for `event`, in short slices so that a request to stop ends the wait
    // at once whatever its length.
    Wait waitFor(ManualResetEvent* event, int ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        const int slice = std::max(1, std::min(m_timing.passMs, 10));
        for (;;) {
            if (stopRequested()) return Wait::Stop;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) return event && event->isSet() ? Wait::Reply : Wait::Silence;
            const int step = static_cast<int>(std::min<long long>(left, slice));
            if (event) {
                if (event->wait_for(step)) return Wait::Reply;
            } else if (m_stop) {
                m_stop->wait_for(step);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(step));
            }
        }
    }

    // The pause of a pass, and the short check after a repetition: true when told to stop.
    bool pause(int ms) { return waitFor(nullptr, ms) == Wait::Stop; }

    // The pause of an idle pass: it ends early when a code is queued. True when told to stop.
    bool idlePause(int ms) {
        const int slice = std::max(1, std::min(ms, 10));
        for (int waited = 0; waited < ms; waited += slice) {
            if (stopRequested()) return true;
            if (g_evtCommandQueued.wait_for(std::min(slice, ms - waited))) break;
        }
        return stopRequested();
    }

    Wait request(ManualResetEvent& reply, const QString& text) {
        reply.reset();
        SendCommand(text, m_view.get());
        return waitFor(&reply, m_timing.replyMs);
    }

    // After a first request went unanswered: up to six repeats; an answer to any of the
    // first five counts, and once the sixth has been waited for the exchange has failed.
    Exchange repeat(ManualResetEvent& reply, const QString& text) {
        if (g_nRetry.load() > 5) return Exchange::FailedEarlier;
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

    // Code 6: the run state; the decoder acts on the reply.
    bool readRunState() {
        if (request(g_hEvtRunState, QStringLiteral("02R071")) == Wait::Stop) return false;
        g_nCurCommand = 0;
        return true;
    }

    std::shared_ptr<LinkView> m_view;
    CycleTiming m_timing;
    std::shared_ptr<ManualResetEvent> m_stop;
};

}  // namespace

void CommandThreadProc(std::shared_ptr<LinkView> view, CycleTiming timing) {
    CommandCycle(std::move(view), timing).run();
}

bool StartCommandCycle(std::shared_ptr<LinkView> view) {
    LinkThreads::joinFinished();
    const CycleTiming timing = CommandCycleTiming();
    return LinkThreads::start(
        [view = std::move(view), timing] { CommandThreadProc(view, timing); });
}

CycleTiming CommandCycleTiming() {
    std::lock_guard lock(g_timingMutex);
    return g_timing;
}

void SetCommandCycleTimingForTests(CycleTiming timing) {
    std::lock_guard lock(g_timingMutex);
    g_timing = timing;
}
