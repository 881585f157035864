// A program killed at any moment leaves a whole archive that holds every record whose commit
// had returned: children write records and polls and are killed with SIGKILL at random.

#include <QSet>
#include <deque>
#include <random>

#include "archive/archive_open.h"
#include "archive/sqlite_handle.h"
#include "archive_fixture.h"

namespace {

using namespace ArchiveTesting;

constexpr int kKills = 50;

class ArchiveCrash : public ArchiveTest {};

TEST_F(ArchiveCrash, EveryRecordReportedCommittedSurvivesAKill) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    std::mt19937 random(seed);
    // A kill comes after a random number of committed records (none: while the child opens
    // the archive or begins its test) and then a random moment more, mid-way through what
    // follows, whatever the speed of the machine.
    std::uniform_int_distribution<int> recordsBeforeKill(0, 4);
    std::uniform_int_distribution<int> delayMs(0, 25);

    QHash<QString, QSet<int>> reported;  // uid -> record numbers whose commit returned
    auto take = [&](const QList<QByteArray>& lines, const QString& uid) {
        for (const QByteArray& line : lines) {
            EXPECT_FALSE(line.startsWith("F ")) << line.toStdString();
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() == 2 && parts[0] == uid.toUtf8())
                reported[uid].insert(parts[1].toInt());
        }
        return reported.value(uid).size();
    };
    // The next children start while the present one runs, and wait for "go" to open the
    // archive: the kills come at the pace of the writing, not of starting a program.
    std::deque<std::unique_ptr<ChildProcess>> waiting;
    int started = 0;
    auto startMore = [&] {
        for (; started < kKills && waiting.size() < 2; ++started)
            waiting.push_back(std::make_unique<ChildProcess>(
                "ArchiveChild.WritesUntilKilled", "crash",
                QList<std::pair<QString, QString>>{
                    {"PATH", path()}, {"UID", QStringLiteral("crash-%1").arg(started)}}));
    };
    for (int i = 0; i < kKills; ++i) {
        startMore();
        std::unique_ptr<ChildProcess> child = std::move(waiting.front());
        waiting.pop_front();
        const QString uid = QStringLiteral("crash-%1").arg(i);
        ASSERT_TRUE(child->waitForLine("ready"));
        child->write("go");
        const int records = recordsBeforeKill(random);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (take(child->readLines(1000), uid) < records &&
               std::chrono::steady_clock::now() < giveUp) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        child->kill();
        child->wait();
        EXPECT_TRUE(child->killedBySignal());
        take(child->readLines(0), uid);
    }

    Connection db(path(), SQLITE_OPEN_READWRITE);
    ConfigureConnection(db, kBusyTimeoutMs);
    EXPECT_EQ(db.queryText("PRAGMA integrity_check"), "ok");
    QString message;
    auto reader = ArchiveReader::open(path(), &message);
    ASSERT_TRUE(reader) << message.toStdString();
    EXPECT_TRUE(message.isEmpty()) << message.toStdString();
    int total = 0;
    for (const TestSummary& summary : reader->listTests()) {
        const auto test = reader->loadTest(summary.id);
        ASSERT_TRUE(test);
        // Records commit one by one in order: what is there is 1..n, each whole.
        for (size_t k = 0; k < test->records.size(); ++k)
            ASSERT_EQ(test->records[k], Record(int(k) + 1)) << summary.uid.toStdString();
        EXPECT_EQ(summary.recordCount, int(test->records.size()));
        for (int number : reported.value(summary.uid))
            EXPECT_LE(number, int(test->records.size())) << summary.uid.toStdString();
        reported.remove(summary.uid);
        total += int(test->records.size());
    }
    EXPECT_TRUE(reported.isEmpty()) << "a test that reported records is missing";
    EXPECT_GT(total, kKills);  // most kills came mid-write, not before the first record
}

}  // namespace
