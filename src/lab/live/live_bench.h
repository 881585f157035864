#pragma once

#include <QString>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_rows.h"
#include "archive/test_states.h"
#include "server/pg_connection.h"

// What the live page shows of one bench: its newest test and that test's newest poll, read
// from the lab database; and the JSON the page receives.
namespace lab {

struct LiveBench {
    QString bench;  // as the history list names it: "LAB-PC-2 COM1（/dev/ttyUSB0）"
    QString testUid;
    QString tester;
    QString organisation;
    qint64 startedAtMs = 0;
    archive::TestState state = archive::TestState::Running;
    bool closed = false;
    int testMinutes = 0;
    std::optional<int> minute;  // the newest poll's minute count; none before the first poll
    QString temperature;
    std::array<bool, archive::kChannels> inUse{};
    std::array<QString, archive::kChannels> current, charge;  // as the bench sent them
    // How far the newest poll (or the test itself, before its first poll) is identified, and
    // how long ago the server received it, by the server's own clock.
    qint64 pollSeq = 0;
    qint64 silentMs = 0;
    // When the bench was last heard from, by this service's clock (filled in by the feed).
    qint64 lastHeardMs = 0;
};

// At most this many benches are read.
constexpr int kMaxLiveBenches = 500;

// Every bench with its newest test and the test's newest poll, ordered by the bench's name.
// A bench known to the server under several ids (a new program version, a new role) is one
// bench: its newest test wins. Throws server::PgError.
std::vector<LiveBench> ReadLiveBenches(server::PgConnection& db);

// A reading without its unit: "12.50(mA)" -> "12.50"; other texts as they are.
QString WithoutUnit(const QString& reading);

// The benches as the page's JSON array.
std::string BenchesJson(const std::vector<LiveBench>& benches);

}  // namespace lab
