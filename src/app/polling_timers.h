#pragma once

#include <QObject>
#include <QTimer>
#include <array>

// The three polling timers of a running test, hosted by the main frame. WM_TIMERS_START
// starts (or restarts) them and queues one channel poll at once; WM_TIMERS_STOP kills
// them. Every tick runs on the GUI thread:
//   timer 1, every 2000 ms: CMD_READ_TEST queued;
//   timer 2, every 2000 ms: CMD_READ_CHANNELS queued;
//   timer 3, first after 5000 ms, then every g_nRecordInterval minutes: CMD_READ_RUNSTATE
//   queued, the timer re-armed with the long period, WM_RECORD_SAMPLE posted to the form.
// Periods are program milliseconds; the wall clock runs them through TimeScale.
class PollingTimers : public QObject {
    Q_OBJECT

  public:
    static constexpr int kTestTimer = 1;
    static constexpr int kChannelTimer = 2;
    static constexpr int kRecordTimer = 3;
    static constexpr int kPollPeriodMs = 2000;
    static constexpr int kFirstRecordMs = 5000;

    // Takes the main frame's messages from construction on (until it is destroyed).
    explicit PollingTimers(QObject* parent = nullptr);
    ~PollingTimers() override;

    // WM_TIMERS_START or WM_TIMERS_STOP; other messages are ignored.
    void handleMessage(int message);
    void start();
    void stop();

    // The work of one expiry of timer `id` (1, 2 or 3).
    void onTimer(int id);

    bool isActive(int id) const;
    // The period timer `id` is armed with, in program milliseconds; 0 when it is not armed.
    int period(int id) const;

    // The recording period of g_nRecordInterval minutes in milliseconds. An interval that
    // is not positive has no period (0): the record timer then stops after its first
    // expiry. An interval too long for a timer is cut to the longest period it can hold.
    static int recordPeriodMs();

  private:
    void arm(int id, int periodMs);
    void kill(int id);

    std::array<QTimer, 3> m_timers;
    std::array<int, 3> m_periods{};
};
