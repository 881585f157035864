#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "archive/archive_rows.h"

// What happened during a test, for its report, read from the states the archive kept and
// the polls: pauses and who or what paused the test, communication failures, a recovery
// after the program died, the instrument stopping by itself, the end, and the highest
// temperature read.
struct TestEvent {
    qint64 atMs = 0;
    QString text;  // "操作员暂停试验（张三）"
};

// The archive keeps a pause without its cause: a pause whose last two polls before it read
// 90.0 ℃ or more was the temperature watch's (it pauses on two such readings in a row); any
// other was the operator's, the logged-in user of the test. A start that follows a running
// state with no pause, failure or end between is the program taking the test up again after
// it died.
std::vector<TestEvent> TestEvents(const archive::ArchivedTest& test,
                                  const std::vector<archive::PollRow>& polls);

struct HighestTemperature {
    double celsius = 0;
    qint64 atMs = 0;
};

// The highest temperature of the polls, or of the records when there are no polls.
std::optional<HighestTemperature> HighestTemperatureOf(const archive::ArchivedTest& test,
                                                       const std::vector<archive::PollRow>& polls);
