#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "archive/test_states.h"

// What the archive keeps of a test, as the program hands it over and reads it back. Texts are
// kept exactly as the program shows them; a channel that is not in use has null texts.
namespace archive {

constexpr int kChannels = 6;
constexpr int kSpecimenSlots = 9;

struct TestHeader {
    QString uid;        // made by the program (QUuid), unique in the archive
    QString testDate;   // as the form shows it, "2026-12-8"
    QString startTime;  // "08:05:09"
    qint64 startedAtMs = 0;
    QString user;  // the logged-in user
    int portIndex = 0;
    QString portName;    // "COM1"
    QString portDevice;  // "/dev/ttyUSB0"
    QString voltage;
    int32_t testMinutes = 0, recordInterval = 0, diameter = 0;
    QString tester, organisation;
    std::array<QString, kSpecimenSlots> specimenNo;
    std::array<uint8_t, kChannels> channelOff{};  // non-zero: the channel is not in use
    QString programVersion;
    // The archive's key in the test's lock name, made once as the test started (empty for a
    // test of an older program: the name is then made from the archive's path).
    QString lockKey;
    // The mark of the process running the test (see process_mark.h), kept only when it could
    // not make the test's lock file; empty otherwise. Kept with the key in one column (see
    // lock_key_column.h): neither field ever holds the other.
    QString lockHolder;
    bool operator==(const TestHeader&) const = default;
};

struct RecordRow {
    int number = 0;              // 1-based, as the history lists number them
    std::optional<int> minutes;  // the instrument's minute count, when known
    QString temperature;
    qint64 atMs = 0;
    std::array<QString, kChannels> current, charge;  // "12.50(mA)", "1234.5(C)"
    bool operator==(const RecordRow&) const = default;
};

struct PollRow {
    qint64 atMs = 0;
    std::optional<int> minutes;
    QString voltage, temperature;
    std::array<QString, kChannels> current, charge;
    bool operator==(const PollRow&) const = default;
};

struct StateChange {
    TestState state = TestState::Running;
    qint64 atMs = 0;
    bool operator==(const StateChange&) const = default;
};

struct ArchivedTest {
    qint64 id = 0;
    TestHeader header;
    TestState state = TestState::Running;
    bool closed = false;
    std::vector<RecordRow> records;   // by number
    std::vector<StateChange> states;  // in the order they happened
};

// One event of the audit trail about a test, as the report tells what happened.
struct AuditRow {
    qint64 atMs = 0;
    QString action;  // "paused_temperature", "recovered", ... (see AuditActionText)
    QString user, detail;
};

// One line of the test list.
struct TestSummary {
    qint64 id = 0;
    QString uid, testDate, startTime, tester, organisation;
    QString lockKey;     // as in TestHeader
    QString lockHolder;  // as in TestHeader
    int32_t testMinutes = 0, recordInterval = 0, diameter = 0;
    int recordCount = 0;
    TestState state = TestState::Running;
    bool closed = false;
    qint64 startedAtMs = 0;
    qint64 changedAtMs = 0;  // the last record or state change (the start before any)
    std::array<QString, kChannels> lastCharge;  // of the last record
    std::array<uint8_t, kChannels> channelOff{};
};

}  // namespace archive
