#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <cstdint>

#include "platform/manual_reset_event.h"
#include "platform/shared_event.h"
#include "state/command_code.h"
#include "state/run_flag.h"

// The state of the one test the program runs at a time. Channel k (counted from 1) is
// array slot, channel-table row and history list k - 1.
//
// The one-byte flags, the command queue and the counters that the receive and command
// threads share are atomics: the same meaning as plain bytes, without a data race. The
// parameters are written on the GUI thread before the test window exists and only read
// while it does.

inline constexpr int MAX_CHANNELS = 30;
inline constexpr int CHANNELS_IN_USE = 6;

// Command codes of the command queue.
inline constexpr uint8_t CMD_READ_TEST = 1;
// A recovered test asks the instrument's minute count once before it resumes.
inline constexpr uint8_t CMD_CHECK_MINUTES = 2;
inline constexpr uint8_t CMD_READ_CHANNELS = 3;
inline constexpr uint8_t CMD_READ_RUNSTATE = 6;

// The program's window messages (WM_USER = 0x400), kept by name and value.
inline constexpr int WM_USER = 0x400;
inline constexpr int WM_TIMERS_START = WM_USER + 5;
inline constexpr int WM_TIMERS_STOP = WM_USER + 6;
inline constexpr int WM_RECORD_SAMPLE = WM_USER + 7;

inline constexpr int COMMAND_QUEUE_SIZE = 20;

// --- Test parameters (written when the parameter dialog is accepted) ---
extern uint8_t g_nComPort;         // 0-based port index: 0 is "COM1", 15 is "COM16"
extern QString g_strVoltage;       // test voltage as typed
extern int32_t g_nTestMinutes;     // test duration in minutes
extern int32_t g_nRecordInterval;  // minutes between records
extern int32_t g_nDiameter;        // specimen diameter in mm
extern QString g_strTester;
extern QString g_strOrganisation;
extern std::array<QString, MAX_CHANNELS> g_strSpecimenNo;
extern std::array<uint8_t, MAX_CHANNELS> g_bChannelOff;  // 1 = channel not in use

// --- Records ---
extern std::atomic<uint32_t> g_nLastRecord;                 // row index of the newest record
extern std::array<QString, MAX_CHANNELS> g_strLastCurrent;  // current text of the last record
extern std::array<QString, MAX_CHANNELS> g_strLastCharge;   // charge text of the last record

// --- Run and link flags ---
extern std::atomic<uint8_t> g_bTesting;  // a test is running
extern RunFlag g_bWorkerRun;             // the command cycle keeps looping
extern RunFlag g_bLinkActive;            // the receive loop keeps running

// --- Command cycle ---
extern std::array<std::atomic<uint8_t>, COMMAND_QUEUE_SIZE> g_cmdQueue;
extern std::atomic<uint8_t> g_cmdQueueHead;  // next slot to write
extern std::atomic<uint8_t> g_cmdQueueTail;  // next slot to read
extern CommandCode g_nCurCommand;            // code being executed, 0 when idle
extern std::atomic<uint32_t> g_nRetry;       // above 5: communication has failed

// The instrument's minute count from its latest "31" reply; -1 before the first one.
extern std::atomic<int32_t> g_nInstrumentMinutes;

// --- Reply events: reset by the command cycle before each request, set by the decoder ---
extern ManualResetEvent g_hEvtTemperature;
extern ManualResetEvent g_hEvtMinutes;
extern ManualResetEvent g_hEvtCurrent;
extern ManualResetEvent g_hEvtCharge;
extern ManualResetEvent g_hEvtRunState;

// Set by EnqueueCommand and by every new g_nCurCommand: the idle command cycle sleeps on it.
extern ManualResetEvent g_evtCommandQueued;

// Stops the receive thread; none while no link has been opened.
extern SharedEvent g_hRxStopEvent;

// --- Current user (set by the login) ---
extern QString g_strCurrentUser;
extern QString g_strCurrentPassword;

// Adds `code` at the head of the command queue. There is no full test: twenty codes
// written without a read make the queue look empty again.
void EnqueueCommand(uint8_t code);
// Both indices to 0.
void EmptyCommandQueue();

// Back to the values at program start (tests).
void ResetTestStateForTests();
