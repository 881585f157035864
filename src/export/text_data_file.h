#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <cstdint>

#include "state/test_state.h"

// Everything the text data file (*.bln) is made of, copied out of the test state and the
// test form at the moment of saving.
struct TextDataSnapshot {
    struct Row {
        QString recordNo;  // history column 1
        QString current;   // column 2, with its "(mA)"
        QString charge;    // column 3, with its "(C)"
    };

    QString testDate;  // the text of the form's test-date field
    QString organisation;
    QString tester;
    int32_t recordInterval = 0;
    int32_t diameter = 0;
    std::array<uint8_t, CHANNELS_IN_USE> channelOff{};
    uint32_t lastRecord = 0;
    // The rows each channel's history holds, from row 0 on (fewer than lastRecord + 1 rows
    // stand for rows that do not exist).
    std::array<QList<Row>, CHANNELS_IN_USE> history;
};

struct TextDataFile {
    QByteArray bytes;     // the whole file, GBK with CR LF line ends
    QString unencodable;  // what GBK cannot hold, named for the operator; empty when fine
    bool ok() const { return unencodable.isEmpty(); }
};

// The file: the header line, then one line per record row 0 ... lastRecord with six
// channel blocks "number+current+charge:" each; a row a channel does not have is "++:".
TextDataFile BuildTextDataFile(const TextDataSnapshot& snapshot);
