#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "archive/archive_rows.h"

// What happened during a test, for its report, read from what the program recorded as it
// happened: the states the archive kept and the audit trail's events about the test. Pauses
// by the temperature watch and by the operator, communication failures, a recovery after the
// program died (also during a pause), the instrument stopping by itself, the end. Nothing is
// inferred from the readings: a pause whose cause was not recorded says so.
struct TestEvent {
    qint64 atMs = 0;
    QString text;  // "操作员暂停试验（张三）"
};

// `polls` (in the order taken) date a program's unexpected exit by the last reading it kept.
std::vector<TestEvent> TestEvents(const archive::ArchivedTest& test,
                                  const std::vector<archive::AuditRow>& audit,
                                  const std::vector<archive::PollRow>& polls = {});

// How a test that did not come to its end stood when it was left ("暂停后关闭试验窗口"); empty
// for a test that ended (its minutes reached, or the instrument stopped by itself).
QString UnfinishedEnding(const archive::ArchivedTest& test);

struct HighestTemperature {
    double celsius = 0;
    qint64 atMs = 0;
};

// The highest temperature of the polls, or of the records when there are no polls.
std::optional<HighestTemperature> HighestTemperatureOf(const archive::ArchivedTest& test,
                                                       const std::vector<archive::PollRow>& polls);

// The temperature the watch read when it paused the test, from the detail it records
// ("暂停（温度超限）：试件温度 90.4 ℃"); nothing when the detail does not hold one.
std::optional<double> PauseTemperature(const QString& detail);
