// The sessions a bench keeps on the lab server: limited by the server itself (statement, lock
// and idle-in-transaction limits, keepalives on the socket), so that a lock held on the server
// for a long time leaves at most two of the bench's sessions there and the bench catches up
// once the lock goes.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QTemporaryDir>
#include <thread>

#include "history/silent_server.h"
#include "server/server_schema.h"
#include "server_fixture.h"

namespace {

using namespace ServerTesting;
using server::ServerSender;

// The lock stands for three minutes of a maintenance job, shortened with the bench's limits.
TEST(SessionLimits, ALockHeldLongLeavesAtMostTwoSessionsAndTheBenchRecovers) {
    QTemporaryDir dir;
    const QString database = FreshDatabase();
    const QString archive = dir.filePath(QStringLiteral("kivo.sqlite"));
    WriteTest(archive, Header(QStringLiteral("held"), QStringLiteral("/dev/ttyUSB0")), 10, 300);
    {
        server::PgConnection owner({UriWithPassword(database), {}});
        server::PrepareServerSchema(owner);
    }
    server::PgConnection holder = Superuser(database);
    holder.execScript("BEGIN; LOCK TABLE tests IN ACCESS EXCLUSIVE MODE");

    ServerSender::Options options = SenderOptions(UriWithPassword(database));
    options.statementTimeoutMs = 2000;
    ServerSender sender(archive, {}, options);
    server::PgConnection watcher = Superuser(database);
    const QByteArray sessions =
        "SELECT count(*) FROM pg_stat_activity WHERE usename = 'kivo' AND datname = '" +
        database.toUtf8() + "'";
    qint64 most = 0;
    auto watch = [&] {
        most = std::max(most, watcher.exec(sessions.constData()).integer(0, 0));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return false;
    };
    // Every attempt of the sender waits for the lock in vain: about a dozen of them.
    PumpUntil(watch, 12000);
    EXPECT_LE(most, 2);
    EXPECT_EQ(sender.status().state, ServerSender::State::Unreachable);
    EXPECT_EQ(sender.status().cause, QStringLiteral("服务器上的数据正被占用，稍后重试"));

    holder.execScript("ROLLBACK");
    ASSERT_TRUE(WaitSynced(sender));
    ExpectServerHolds(database, archive, 1);
    EXPECT_LE(watcher.exec(sessions.constData()).integer(0, 0), 1);

    // The server probes a bench's socket itself, so the session of a bench switched off ends.
    server::PgConnection::Options limited;
    limited.conninfo = UriWithPassword(database);
    limited.statementTimeoutMs = 2000;
    server::PgConnection bench(limited);
    EXPECT_EQ(bench.exec("SELECT current_setting('tcp_keepalives_idle') || ' ' || "
                         "current_setting('tcp_keepalives_count')")
                  .text(0, 0),
              QStringLiteral("30 3"));
}

// Cancel requests to a server that takes them and never answers end by their own limit, so
// they do not keep the program's two places for cancel requests for ever: a later statement
// given up on a working server is still cancelled there.
TEST(SessionLimits, CancelsToASilentServerEndAndFreeTheirPlaces) {
    SilentServer silent(SilentServer::Mode::AfterLogin);
    server::PgConnection mute({silent.uri(), {}, 5});
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(server::RequestCancel(mute.get(), 100));
    ASSERT_TRUE(PumpUntil([] { return server::CancelsUnderWay() == 0; }, 60000));

    server::PgConnection working(Superuser(FreshDatabase()));
    EXPECT_TRUE(server::RequestCancel(working.get(), 20000));
}

}  // namespace
