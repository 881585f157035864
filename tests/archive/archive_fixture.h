#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "archive/archive_reader.h"
#include "archive/archive_writer.h"
#include "child_process.h"
#include "support/unique_uid.h"

// A fresh archive file in a scratch folder for each test, the rows a test hands the writer,
// and child processes: the test program run again with one child test selected and its role
// in the environment.
namespace ArchiveTesting {

using namespace archive;

inline TestHeader Header(const QString& uid, qint64 startedAtMs = 1'796'000'000'000) {
    TestHeader h;
    h.uid = uid;
    h.testDate = QStringLiteral("2026-12-8");
    h.startTime = QStringLiteral("08:05:09");
    h.startedAtMs = startedAtMs;
    h.user = QStringLiteral("admin");
    h.portIndex = 2;
    h.portName = QStringLiteral("COM3");
    h.portDevice = QStringLiteral("/dev/ttyUSB0");
    h.voltage = QStringLiteral("60");
    h.testMinutes = 360;
    h.recordInterval = 5;
    h.diameter = 100;
    h.tester = QStringLiteral("张工");
    h.organisation = QStringLiteral("检测中心 第二实验室");
    for (int slot = 0; slot < kSpecimenSlots; ++slot)
        h.specimenNo[slot] = QStringLiteral("S-%1").arg(slot);
    h.channelOff = {0, 0, 0, 0, 0, 1};
    h.programVersion = QStringLiteral("1.0.0");
    return h;
}

// Record `n`, its texts made from its number so a reader can tell a wrong one; channel 6 is
// not in use.
inline RecordRow Record(int n) {
    RecordRow r;
    r.number = n;
    r.minutes = n * 5;
    r.temperature = QStringLiteral("%1.5").arg(20 + n % 10);
    r.atMs = 1'796'000'000'000 + qint64{n} * 300'000;
    for (int ch = 0; ch < 5; ++ch) {
        r.current[ch] = QStringLiteral("%1.%2(mA)").arg(40 + ch).arg(n % 100, 2, 10, QChar('0'));
        r.charge[ch] = QStringLiteral("%1.5(C)").arg(n * 12 + ch);
    }
    return r;
}

inline PollRow Poll(int n) {
    PollRow p;
    p.atMs = 1'796'000'000'000 + qint64{n} * 2000;
    p.minutes = n / 30;
    p.voltage = QStringLiteral("60.0");
    p.temperature = QStringLiteral("21.%1").arg(n % 10);
    for (int ch = 0; ch < 5; ++ch) {
        p.current[ch] = QStringLiteral("%1.%2(mA)").arg(40 + ch).arg(n % 100);
        p.charge[ch] = QStringLiteral("%1(C)").arg(n + ch);
    }
    return p;
}

// Collects what the writer reports.
struct Messages {
    mutable std::mutex mutex;
    QStringList list;
    ArchiveWriter::FailureHandler handler() {
        return [this](const QString& m) {
            std::lock_guard lock(mutex);
            list << m;
        };
    }
    QStringList all() const {
        std::lock_guard lock(mutex);
        return list;
    }
};

// Waits up to `ms` for `done` to hold, polling it.
inline bool WaitFor(const std::function<bool()>& done, int ms = 30000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The role a child process plays (empty in the parent) and its parameters.
inline QString ChildRole() { return qEnvironmentVariable("KIVO_ARCHIVE_CHILD"); }
inline QString ChildParam(const char* name) {
    return qEnvironmentVariable((QByteArray("KIVO_ARCHIVE_") + name).constData());
}

// A line on the child's report pipe, written at once (no buffering to lose on a kill).
inline void Report(const QByteArray& line) {
    const QByteArray text = line + '\n';
    ssize_t rc = ::write(1, text.constData(), size_t(text.size()));
    (void)rc;
}

class ArchiveTest : public ::testing::Test {
  protected:
    QString path() const { return dir.filePath(QStringLiteral("kivo.sqlite")); }
    QTemporaryDir dir;
};

}  // namespace ArchiveTesting
