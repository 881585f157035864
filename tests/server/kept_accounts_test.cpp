// Settled tests' own accounts are kept in the archive file across starts, and a kept account is
// never believed once the test's rows changed, whichever program changed them.

#include <QTemporaryDir>

#include "server/archive_outbox.h"
#include "server/server_reconcile.h"
#include "server/server_schema.h"
#include "server/test_account.h"
#include "server_fixture.h"

namespace {

using namespace ServerTesting;

struct Kept {
    QString uid;
    server::TestAccount account;
};

// The accounts the file keeps, each with the account its rows give now.
std::vector<std::pair<Kept, server::TestAccount>> KeptAndNow(archive::Connection& db) {
    archive::Statement s(db,
                         "SELECT test_id, uid, header, states, states_sum, records, records_sum, "
                         "polls, polls_sum FROM sender_account ORDER BY uid");
    std::vector<std::pair<Kept, server::TestAccount>> kept;
    while (s.step()) {
        Kept k{
            s.text(1),
            {s.text(2), s.integer(3), s.integer(5), s.integer(7), s.text(4), s.text(6), s.text(8)}};
        server::PollTally tally;
        kept.emplace_back(k, server::LocalAccount(db, s.integer(0), tally));
    }
    return kept;
}

std::unique_ptr<archive::Connection> Open(const QString& path) {
    auto db = std::make_unique<archive::Connection>(path, SQLITE_OPEN_READWRITE);
    archive::ConfigureConnection(*db, archive::kBusyTimeoutMs);
    return db;
}

// The sender's check as after a start: a connection and a reconciler of its own.
server::Reconciler::Result CheckAfterStart(const QString& path, const QString& database) {
    auto db = Open(path);
    server::PgConnection pg({UriWithPassword(database), {}, 10});
    server::ArchiveOutbox outbox(*db);
    outbox.markFor(server::ServerIdentity(pg));
    server::Reconciler reconciler;
    return reconciler.run(outbox, *db, pg, QStringLiteral("bench"));
}

// Another program's writes to test "a", behind the sender's back: the first two leave the test
// settled, so only the sender's own check can find them.
TEST(KeptAccounts, KeptAcrossStartsAndDroppedWhenAnotherProgramChangesTheRows) {
    const struct {
        const char* what;
        const char* sql;
        int reopened;  // by the next check after a start
    } changes[] = {
        {"a poll rewritten in place", "UPDATE poll SET voltage = '59.0' WHERE seq = 7", 1},
        {"a poll deleted", "DELETE FROM poll WHERE seq = 9", 1},
        {"a record deleted", "DELETE FROM record WHERE number = 2", 1},
        {"a state change deleted",
         "DELETE FROM state_change WHERE rowid = (SELECT max(rowid) FROM state_change "
         "WHERE test_id = ?1)",
         1},
        {"the header rewritten", "UPDATE test SET tester = '李工' WHERE id = ?1", 1},
        {"a record revised", "UPDATE record SET temperature = '30.0' WHERE number = 1", 0},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.what);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
        const QString database = FreshDatabase();
        WriteTest(path, Header(QStringLiteral("a"), QStringLiteral("/dev/ttyUSB0")), 4, 30);
        WriteTest(path, Header(QStringLiteral("b"), QStringLiteral("/dev/ttyUSB1")), 4, 30);
        {
            server::ServerSender sender(path, {}, SenderOptions(UriWithPassword(database)));
            ASSERT_TRUE(WaitSynced(sender));
        }
        // The first check after a start keeps both accounts, each as the rows give it.
        EXPECT_EQ(CheckAfterStart(path, database).reopened, 0);
        {
            auto db = Open(path);
            const auto kept = KeptAndNow(*db);
            ASSERT_EQ(kept.size(), 2u);
            for (const auto& [k, now] : kept) EXPECT_EQ(k.account, now) << k.uid.toStdString();
        }
        // Another program writes to test "a" (the archive's own statements, without the
        // sender's code).
        {
            auto other = Open(path);
            const qint64 a = other->queryInt("SELECT id FROM test WHERE uid = 'a'");
            std::string sql = change.sql;
            if (sql.find("?1") == std::string::npos) sql += " AND test_id = ?1";
            archive::Statement s(*other, sql.c_str());
            s.bind(1, a).run();
        }
        auto db = Open(path);
        {
            const auto kept = KeptAndNow(*db);
            ASSERT_EQ(kept.size(), 1u);
            EXPECT_EQ(kept[0].first.uid, QStringLiteral("b"));
        }
        // The next start's check finds what changed and keeps the new account.
        EXPECT_EQ(CheckAfterStart(path, database).reopened, change.reopened);
        const auto kept = KeptAndNow(*db);
        // "a" is kept again when it was checked, that is when it stayed settled.
        ASSERT_EQ(kept.size(), size_t(1 + change.reopened));
        for (const auto& [k, now] : kept) EXPECT_EQ(k.account, now) << k.uid.toStdString();
    }
}

// The next start reads a kept account instead of the rows: one the file keeps wrongly (as no
// program of ours writes it) is believed, and the test is sent again.
TEST(KeptAccounts, TheNextStartReadsTheKeptAccount) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
    const QString database = FreshDatabase();
    WriteTest(path, Header(QStringLiteral("a"), QStringLiteral("/dev/ttyUSB0")), 4, 30);
    {
        server::ServerSender sender(path, {}, SenderOptions(UriWithPassword(database)));
        ASSERT_TRUE(WaitSynced(sender));
    }
    EXPECT_EQ(CheckAfterStart(path, database).reopened, 0);
    Open(path)->exec("UPDATE sender_account SET polls = polls + 1");
    EXPECT_EQ(CheckAfterStart(path, database).reopened, 1);
}

}  // namespace
