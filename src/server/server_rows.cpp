#include "server/server_rows.h"

namespace server {

using archive::kChannels;
using archive::kSpecimenSlots;

const char* const kTestColumns =
    "test_date, start_time, started_at_ms, user_name, port_index, port_name, port_device, "
    "voltage, test_minutes, record_interval, diameter, tester, organisation, "
    "specimen_no_0, specimen_no_1, specimen_no_2, specimen_no_3, specimen_no_4, specimen_no_5, "
    "specimen_no_6, specimen_no_7, specimen_no_8, "
    "channel_off_1, channel_off_2, channel_off_3, channel_off_4, channel_off_5, channel_off_6, "
    "program_version, uid";

const char* const kRecordColumns =
    "number, minutes, temperature, at_ms, "
    "current_1, current_2, current_3, current_4, current_5, current_6, "
    "charge_1, charge_2, charge_3, charge_4, charge_5, charge_6";

const char* const kPollColumns =
    "at_ms, minutes, voltage, temperature, "
    "current_1, current_2, current_3, current_4, current_5, current_6, "
    "charge_1, charge_2, charge_3, charge_4, charge_5, charge_6";

namespace {

// A text the archive keeps NOT NULL: a null QString is stored as ''.
QString NotNull(const QString& text) { return text.isNull() ? QStringLiteral("") : text; }

}  // namespace

void AddHeader(PgParams& p, const archive::TestHeader& h) {
    p.add(NotNull(h.testDate)).add(NotNull(h.startTime)).add(h.startedAtMs);
    p.add(NotNull(h.user)).add(qint64{h.portIndex}).add(NotNull(h.portName));
    p.add(NotNull(h.portDevice)).add(NotNull(h.voltage)).add(qint64{h.testMinutes});
    p.add(qint64{h.recordInterval}).add(qint64{h.diameter});
    p.add(NotNull(h.tester)).add(NotNull(h.organisation));
    for (int slot = 0; slot < kSpecimenSlots; ++slot) p.add(NotNull(h.specimenNo[slot]));
    for (int ch = 0; ch < kChannels; ++ch) p.add(qint64{h.channelOff[ch]});
    p.add(NotNull(h.programVersion)).add(NotNull(h.uid));
}

archive::TestHeader HeaderAt(const PgResult& r, int row, int c) {
    archive::TestHeader h;
    h.testDate = r.text(row, c + 0);
    h.startTime = r.text(row, c + 1);
    h.startedAtMs = r.integer(row, c + 2);
    h.user = r.text(row, c + 3);
    h.portIndex = int(r.integer(row, c + 4));
    h.portName = r.text(row, c + 5);
    h.portDevice = r.text(row, c + 6);
    h.voltage = r.text(row, c + 7);
    h.testMinutes = int32_t(r.integer(row, c + 8));
    h.recordInterval = int32_t(r.integer(row, c + 9));
    h.diameter = int32_t(r.integer(row, c + 10));
    h.tester = r.text(row, c + 11);
    h.organisation = r.text(row, c + 12);
    for (int slot = 0; slot < kSpecimenSlots; ++slot)
        h.specimenNo[slot] = r.text(row, c + 13 + slot);
    for (int ch = 0; ch < kChannels; ++ch) h.channelOff[ch] = uint8_t(r.integer(row, c + 22 + ch));
    h.programVersion = r.text(row, c + 28);
    h.uid = r.text(row, c + 29);
    return h;
}

void AddRecord(PgParams& p, const archive::RecordRow& record) {
    p.add(qint64{record.number}).add(record.minutes).add(record.temperature).add(record.atMs);
    for (int ch = 0; ch < kChannels; ++ch) p.add(record.current[ch]);
    for (int ch = 0; ch < kChannels; ++ch) p.add(record.charge[ch]);
}

archive::RecordRow RecordAt(const PgResult& r, int row, int c) {
    archive::RecordRow record;
    record.number = int(r.integer(row, c + 0));
    record.minutes = r.optionalInt(row, c + 1);
    record.temperature = r.text(row, c + 2);
    record.atMs = r.integer(row, c + 3);
    for (int ch = 0; ch < kChannels; ++ch) {
        record.current[ch] = r.text(row, c + 4 + ch);
        record.charge[ch] = r.text(row, c + 10 + ch);
    }
    return record;
}

void AddPoll(PgParams& p, const archive::PollRow& poll) {
    p.add(poll.atMs).add(poll.minutes).add(poll.voltage).add(poll.temperature);
    for (int ch = 0; ch < kChannels; ++ch) p.add(poll.current[ch]);
    for (int ch = 0; ch < kChannels; ++ch) p.add(poll.charge[ch]);
}

archive::PollRow PollAt(const PgResult& r, int row, int c) {
    archive::PollRow poll;
    poll.atMs = r.integer(row, c + 0);
    poll.minutes = r.optionalInt(row, c + 1);
    poll.voltage = r.text(row, c + 2);
    poll.temperature = r.text(row, c + 3);
    for (int ch = 0; ch < kChannels; ++ch) {
        poll.current[ch] = r.text(row, c + 4 + ch);
        poll.charge[ch] = r.text(row, c + 10 + ch);
    }
    return poll;
}

QByteArray ValuesList(int rows, int columns, int firstParameter) {
    QByteArray sql;
    sql.reserve(rows * columns * 5);
    int n = firstParameter;
    for (int row = 0; row < rows; ++row) {
        sql += row == 0 ? "(" : ", (";
        for (int col = 0; col < columns; ++col) {
            if (col > 0) sql += ", ";
            sql += '$';
            sql += QByteArray::number(n++);
        }
        sql += ')';
    }
    return sql;
}

}  // namespace server
