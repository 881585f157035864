#include "archive/archive_columns.h"

#include <utility>

#include "archive/lock_key_column.h"
#include "archive/sqlite_handle.h"

namespace archive {
namespace {

// The twelve channel texts that start at column `first`: each channel's current, then each
// channel's charge.
void ChannelsAt(const Statement& s, int first, std::array<QString, kChannels>& current,
                std::array<QString, kChannels>& charge) {
    for (int ch = 0; ch < kChannels; ++ch) {
        current[ch] = s.text(first + ch);
        charge[ch] = s.text(first + kChannels + ch);
    }
}

}  // namespace

const char* const kTestHeaderColumns =
    "uid, test_date, start_time, started_at_ms, user_name, port_index, port_name, port_device, "
    "voltage, test_minutes, record_interval, diameter, tester, organisation, "
    "specimen_no_0, specimen_no_1, specimen_no_2, specimen_no_3, specimen_no_4, specimen_no_5, "
    "specimen_no_6, specimen_no_7, specimen_no_8, "
    "channel_off_1, channel_off_2, channel_off_3, channel_off_4, channel_off_5, channel_off_6, "
    "program_version, lock_key";

const char* const kRecordRowColumns =
    "number, minutes, temperature, at_ms, "
    "current_1, current_2, current_3, current_4, current_5, current_6, "
    "charge_1, charge_2, charge_3, charge_4, charge_5, charge_6";

const char* const kPollRowColumns =
    "at_ms, minutes, voltage, temperature, "
    "current_1, current_2, current_3, current_4, current_5, current_6, "
    "charge_1, charge_2, charge_3, charge_4, charge_5, charge_6";

TestHeader TestHeaderAt(const Statement& h, int first) {
    TestHeader t;
    t.uid = h.text(first + 0);
    t.testDate = h.text(first + 1);
    t.startTime = h.text(first + 2);
    t.startedAtMs = h.integer(first + 3);
    t.user = h.text(first + 4);
    t.portIndex = int(h.integer(first + 5));
    t.portName = h.text(first + 6);
    t.portDevice = h.text(first + 7);
    t.voltage = h.text(first + 8);
    t.testMinutes = int32_t(h.integer(first + 9));
    t.recordInterval = int32_t(h.integer(first + 10));
    t.diameter = int32_t(h.integer(first + 11));
    t.tester = h.text(first + 12);
    t.organisation = h.text(first + 13);
    for (int slot = 0; slot < kSpecimenSlots; ++slot)
        t.specimenNo[slot] = h.text(first + 14 + slot);
    for (int ch = 0; ch < kChannels; ++ch) t.channelOff[ch] = uint8_t(h.integer(first + 23 + ch));
    t.programVersion = h.text(first + 29);
    LockKeyParts lock = SplitLockKeyColumn(h.text(first + 30));
    t.lockKey = std::move(lock.key);
    t.lockHolder = std::move(lock.mark);
    return t;
}

RecordRow RecordAt(const Statement& s, int first) {
    RecordRow row;
    row.number = int(s.integer(first));
    row.minutes = s.optionalInt(first + 1);
    row.temperature = s.text(first + 2);
    row.atMs = s.integer(first + 3);
    ChannelsAt(s, first + 4, row.current, row.charge);
    return row;
}

PollRow PollAt(const Statement& s, int first) {
    PollRow row;
    row.atMs = s.integer(first);
    row.minutes = s.optionalInt(first + 1);
    row.voltage = s.text(first + 2);
    row.temperature = s.text(first + 3);
    ChannelsAt(s, first + 4, row.current, row.charge);
    return row;
}

}  // namespace archive
