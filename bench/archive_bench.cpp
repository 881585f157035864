// The test archive: what handing a record or a poll to the writer costs the caller, how long a
// record takes to be committed, what one six-hour test weighs on disk, and how much memory the
// queue holds when the disk stalls.
#include <sqlite3.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <vector>

#include "archive/archive_open.h"
#include "archive/archive_writer.h"
#include "archive/sqlite_handle.h"

namespace {

using namespace archive;
using Clock = std::chrono::steady_clock;

constexpr double kHandLimitUs = 100;   // handing a record, p99
constexpr double kCommitLimitMs = 50;  // a record's commit, p99
constexpr double kSixHourLimitMiB = 3;
constexpr double kStallLimitMiB = 100;  // the queue's memory with the most polls waiting

constexpr int kSixHourPolls = 6 * 3600 / 2;  // a poll every 2 s
constexpr int kSixHourRecords = 6 * 60 / 5;  // a record every 5 minutes

TestHeader Header(const QString& uid) {
    TestHeader h;
    h.uid = uid;
    h.testDate = QStringLiteral("2026-12-8");
    h.startTime = QStringLiteral("08:05:09");
    h.startedAtMs = 1'796'000'000'000;
    h.user = QStringLiteral("admin");
    h.portName = QStringLiteral("COM1");
    h.portDevice = QStringLiteral("/dev/ttyUSB0");
    h.voltage = QStringLiteral("60");
    h.testMinutes = 360;
    h.recordInterval = 5;
    h.diameter = 100;
    h.tester = QStringLiteral("张三");
    h.organisation = QStringLiteral("检测中心");
    h.programVersion = QStringLiteral("1.0.0");
    return h;
}

// Texts as the program shows them, with currents of tens to hundreds of milliamperes and
// charges that grow into the thousands of coulombs.
QString Current(int ch, int n) {
    return QString::number(80.0 + ch * 20 + n * 0.011, 'f', 2) + QStringLiteral("(mA)");
}
QString Charge(int ch, int n) {
    return QString::number((80.0 + ch * 20) * n * 2 / 1000, 'f', 1) + QStringLiteral("(C)");
}

PollRow Poll(int n) {
    PollRow p;
    p.atMs = 1'796'000'000'000 + qint64{n} * 2000;
    p.minutes = n / 30;
    p.voltage = QStringLiteral("60");
    p.temperature = QString::number(20.0 + n * 0.001, 'f', 1);
    for (int ch = 0; ch < kChannels; ++ch) {
        p.current[ch] = Current(ch, n);
        p.charge[ch] = Charge(ch, n);
    }
    return p;
}

RecordRow Record(int number) {
    const int n = number * 150;  // the poll at the record's minute
    RecordRow r;
    r.number = number;
    r.minutes = number * 5;
    r.temperature = QString::number(20.0 + n * 0.001, 'f', 1);
    r.atMs = 1'796'000'000'000 + qint64{n} * 2000;
    for (int ch = 0; ch < kChannels; ++ch) {
        r.current[ch] = Current(ch, n);
        r.charge[ch] = Charge(ch, n);
    }
    return r;
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

double RssMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void Row(const char* what, double median, double p99, double limit, const char* unit) {
    std::printf("%-40s %9.3f %9.3f %9.1f %7.2f  %s\n", what, median, p99, limit, p99 / limit, unit);
}

// The time from each of 200 records handed to the writer of `path` until its commit has
// returned, with `pollsBefore` polls handed just before each record.
std::vector<double> CommitTimes(const QString& path, int pollsBefore,
                                const ArchiveWriter::FailureHandler& onFailure) {
    std::mutex mutex;
    std::condition_variable committed;
    int last = 0;
    ArchiveWriter::Options options;
    options.onRecordCommitted = [&](const QString&, int number) {
        std::lock_guard lock(mutex);
        last = number;
        committed.notify_all();
    };
    ArchiveWriter writer(path, onFailure, options);
    writer.beginTest(Header("commit"));
    writer.flush(10000);
    std::vector<double> times;
    for (int number = 1; number <= 200; ++number) {
        for (int n = 0; n < pollsBefore; ++n)
            writer.addPoll("commit", Poll(number * pollsBefore + n));
        const auto t = Clock::now();
        writer.addRecord("commit", Record(number));
        std::unique_lock lock(mutex);
        committed.wait_for(lock, std::chrono::seconds(10), [&] { return last == number; });
        times.push_back(Us(Clock::now() - t) / 1000);
    }
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;
    bool failed = false;
    auto onFailure = [&](const QString& message) {
        std::fprintf(stderr, "archive: %s\n", qPrintable(message));
        failed = true;
    };
    std::printf("SQLite %s, synchronous=FULL, WAL, folder %s\n\n", sqlite3_libversion(),
                qPrintable(dir.path()));

    // First, while the process's memory is still its own: an archive that fails for a whole
    // six-hour test (its folder is missing) keeps everything, then writes it all once the
    // folder is there.
    {
        const QString folder = dir.filePath("later");
        ArchiveWriter::Options options;
        options.retryMs = 3'600'000;
        ArchiveWriter writer(
            folder + "/kept.sqlite", [](const QString&) {}, options);
        const double before = RssMiB();
        writer.beginTest(Header("kept"));
        for (int n = 1; n <= kSixHourPolls; ++n) {
            writer.addPoll("kept", Poll(n));
            if (n % 150 == 0) writer.addRecord("kept", Record(n / 150));
        }
        writer.flush(10000);
        const double grown = RssMiB() - before;
        std::printf("%-40s %9s %9s %9s %7s\n", "", "polls", "MiB", "limit MiB", "ratio");
        std::printf("%-40s %9d %9.1f %9.1f %7.2f\n", "six-hour test kept, archive failing",
                    kSixHourPolls, grown, kStallLimitMiB, grown / kStallLimitMiB);
        QDir().mkpath(folder);
        const auto start = Clock::now();
        writer.addRecord("kept", Record(kSixHourRecords));  // tried again at once
        const bool written = writer.flush(600000);
        std::printf("  (all written %.2f s after the archive came back%s)\n",
                    std::chrono::duration<double>(Clock::now() - start).count(),
                    written ? "" : ", NOT WRITTEN");
        failed = failed || !written || grown > kStallLimitMiB;
        std::printf("\n");
    }
    std::printf("%-40s %9s %9s %9s %7s\n", "", "median", "p99", "limit", "ratio");

    // Handing: records with a batch of polls before each, as fast as the caller can, while the
    // writer commits behind it.
    std::vector<double> handPoll, handRecord;
    {
        ArchiveWriter writer(dir.filePath("handing.sqlite"), onFailure);
        writer.beginTest(Header("handing"));
        writer.flush(10000);
        for (int number = 1; number <= 2000; ++number) {
            for (int n = 0; n < 15; ++n) {
                const PollRow poll = Poll(number * 15 + n);
                const auto t = Clock::now();
                writer.addPoll("handing", poll);
                handPoll.push_back(Us(Clock::now() - t));
            }
            const RecordRow record = Record(number);
            const auto t = Clock::now();
            writer.addRecord("handing", record);
            handRecord.push_back(Us(Clock::now() - t));
        }
        writer.flush(600000);
    }
    Row("hand a record to the writer", Percentile(handRecord, 0.5), Percentile(handRecord, 0.99),
        kHandLimitUs, "us");
    Row("hand a poll to the writer", Percentile(handPoll, 0.5), Percentile(handPoll, 0.99),
        kHandLimitUs, "us");

    // One six-hour test as the program writes it, for its size on disk.
    const QString sixHours = dir.filePath("six-hours.sqlite");
    Clock::duration writeAll{};
    {
        ArchiveWriter writer(sixHours, onFailure);
        const auto start = Clock::now();
        writer.beginTest(Header("six-hours"));
        for (int n = 1; n <= kSixHourPolls; ++n) {
            writer.addPoll("six-hours", Poll(n));
            if (n % 150 == 0) writer.addRecord("six-hours", Record(n / 150));
        }
        writer.flush(600000);
        writeAll = Clock::now() - start;
    }

    // Commit latency: a record handed to an idle writer until its commit has returned; then
    // the same while polls come as in a test: fourteen wait before each record (not yet a
    // batch), and batches are written around it. The record goes ahead of the waiting polls.
    const std::vector<double> commitMs =
        CommitTimes(dir.filePath("latency.sqlite"), 0, onFailure);
    Row("commit a record (handed to committed)", Percentile(commitMs, 0.5),
        Percentile(commitMs, 0.99), kCommitLimitMs, "ms");
    const std::vector<double> behindMs =
        CommitTimes(dir.filePath("behind.sqlite"), 14, onFailure);
    Row("commit a record while polls wait", Percentile(behindMs, 0.5), Percentile(behindMs, 0.99),
        kCommitLimitMs, "ms");

    const qint64 bytes = QFileInfo(sixHours).size() + QFileInfo(sixHours + "-wal").size();
    const double mib = double(bytes) / (1024.0 * 1024.0);
    std::printf("\n%-40s %9s %9s %9s %7s\n", "", "bytes", "MiB", "limit MiB", "ratio");
    std::printf("%-40s %9lld %9.2f %9.1f %7.2f\n", "one six-hour test on disk", (long long)bytes,
                mib, kSixHourLimitMiB, mib / kSixHourLimitMiB);
    std::printf("  (%d polls, %d records, six channels; written in %.2f s, %.0f bytes a poll)\n",
                kSixHourPolls, kSixHourRecords, std::chrono::duration<double>(writeAll).count(),
                double(bytes) / kSixHourPolls);

    // A stalled disk: another connection holds the archive while polls keep coming; the queue
    // keeps the newest 50 000 and drops the rest.
    const QString stalled = dir.filePath("stalled.sqlite");
    {
        ArchiveWriter::Options options;
        options.busyTimeoutMs = 600000;
        ArchiveWriter writer(stalled, onFailure, options);
        writer.beginTest(Header("stalled"));
        writer.flush(10000);
        Connection blocker(stalled, SQLITE_OPEN_READWRITE);
        blocker.exec("BEGIN EXCLUSIVE");
        writer.addRecord("stalled", Record(1));
        const double before = RssMiB();
        const int handed = 80000;
        for (int n = 0; n < handed; ++n) writer.addPoll("stalled", Poll(n));
        const double grown = RssMiB() - before;
        std::printf("\n%-40s %9s %9s %9s %7s\n", "", "polls", "MiB", "limit MiB", "ratio");
        std::printf("%-40s %9d %9.1f %9.1f %7.2f\n", "queue of a stalled disk", handed, grown,
                    kStallLimitMiB, grown / kStallLimitMiB);
        std::printf("  (dropped %lld, the oldest)\n", (long long)writer.droppedPolls());
        blocker.exec("COMMIT");
        writer.flush(600000);
    }

    return failed ? 1 : 0;
}
