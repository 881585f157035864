#include "app/polling_timers.h"

#include <limits>

#include "run/posted_messages.h"
#include "platform/time_scale.h"
#include "state/test_state.h"

namespace {

constexpr int kMsPerMinute = 60000;

PollingTimers* receiverOf(QObject* target) { return qobject_cast<PollingTimers*>(target); }

void deliver(QObject* target, int message) {
    if (PollingTimers* timers = receiverOf(target)) timers->handleMessage(message);
}

}  // namespace

PollingTimers::PollingTimers(QObject* parent) : QObject(parent) {
    for (int id = kTestTimer; id <= kRecordTimer; ++id) {
        QTimer& timer = m_timers[id - 1];
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, [this, id] { onTimer(id); });
    }
    SetMainFrameReceiver(this, &deliver);
}

PollingTimers::~PollingTimers() = default;

void PollingTimers::handleMessage(int message) {
    if (message == WM_TIMERS_START)
        start();
    else if (message == WM_TIMERS_STOP)
        stop();
}

void PollingTimers::start() {
    arm(kTestTimer, kPollPeriodMs);
    arm(kChannelTimer, kPollPeriodMs);
    arm(kRecordTimer, kFirstRecordMs);
    // The first channel poll does not wait for timer 2.
    EnqueueCommand(CMD_READ_CHANNELS);
}

void PollingTimers::stop() {
    for (int id = kTestTimer; id <= kRecordTimer; ++id) kill(id);
}

void PollingTimers::onTimer(int id) {
    switch (id) {
        case kTestTimer:
            EnqueueCommand(CMD_READ_TEST);
            break;
        case kChannelTimer:
            EnqueueCommand(CMD_READ_CHANNELS);
            break;
        case kRecordTimer: {
            EnqueueCommand(CMD_READ_RUNSTATE);
            const int longPeriod = recordPeriodMs();
            if (longPeriod > 0)
                arm(kRecordTimer, longPeriod);
            else
                kill(kRecordTimer);
            PostToTestView(WM_RECORD_SAMPLE);
            break;
        }
        default:
            break;
    }
}

bool PollingTimers::isActive(int id) const {
    return id >= kTestTimer && id <= kRecordTimer && m_timers[id - 1].isActive();
}

int PollingTimers::period(int id) const { return isActive(id) ? m_periods[id - 1] : 0; }

int PollingTimers::recordPeriodMs() {
    const int32_t minutes = g_nRecordInterval;
    if (minutes <= 0) return 0;
    constexpr int32_t longest = std::numeric_limits<int>::max() / kMsPerMinute;
    return (minutes > longest ? longest : minutes) * kMsPerMinute;
}

void PollingTimers::arm(int id, int periodMs) {
    m_periods[id - 1] = periodMs;
    m_timers[id - 1].start(TimeScale::wallMs(periodMs));
}

void PollingTimers::kill(int id) {
    m_timers[id - 1].stop();
    m_periods[id - 1] = 0;
}
