#include "server/deletion_check.h"

#include <memory>

#include "archive/archive_open.h"
#include "server/server_schema.h"
#include "server/test_account.h"

namespace server {
namespace {

constexpr int kConnectSeconds = 5;
constexpr int kStatementMs = 10000;

QString NotAsked(const QString& cause) {
    return QStringLiteral("无法向实验室服务器核对这项实验（%1），实验没有删除。").arg(cause);
}

}  // namespace

QString WhyNotWholeOnServer(const QString& archivePath, const QString& uid,
                            const ServerSettings& settings) {
    TestAccount mine;
    std::unique_ptr<archive::Connection> local;
    qint64 testId = 0;
    try {
        local = std::make_unique<archive::Connection>(archivePath, SQLITE_OPEN_READONLY);
        sqlite3_busy_timeout(local->get(), archive::kBusyTimeoutMs);
        archive::Statement s(*local, "SELECT id FROM test WHERE uid = ?1");
        s.bind(1, uid);
        if (!s.step()) return {};  // gone from the archive already
        testId = s.integer(0);
        PollTally tally;
        mine = LocalAccount(*local, testId, tally);
    } catch (const archive::SqlError&) {
        return NotAsked(QStringLiteral("本机测试档案无法读取"));
    }
    try {
        PgConnection::Options o = settings.connectOptions(kConnectSeconds);
        o.statementTimeoutMs = kStatementMs;
        PgConnection db(o);
        const int version = ServerSchemaVersion(db);
        if (version > kServerSchemaVersion) return NotAsked(NewerSchemaMessage(version));
        if (version > 0 && version < kServerSchemaVersion)
            return NotAsked(QStringLiteral("服务器上的数据库还没有升级"));
        // An empty database holds nothing yet.
        const std::map<QString, TestAccount> accounts =
            version == 0 ? std::map<QString, TestAccount>{} : ServerAccounts(db, {uid});
        const auto it = accounts.find(uid);
        TestAccount theirs = it == accounts.end() ? TestAccount{} : it->second;
        // The only copy goes next: the polls are counted from the server's rows themselves.
        if (!theirs.header.isEmpty()) CountServerPolls(db, uid, theirs);
        // More polls on the server than in the archive: an archive made anew numbered them
        // again, and the server holds them by their times.
        if (theirs.polls > mine.polls && ServerHoldsPollsByTime(db, *local, testId, uid)) {
            theirs.polls = mine.polls;
            theirs.pollsSum = mine.pollsSum;
        }
        const QString difference = AccountDifference(mine, theirs);
        if (difference.isEmpty()) return {};
        return QStringLiteral(
                   "这项实验还没有全部上传到实验室服务器（%1），"
                   "请等状态栏显示“已同步”后再删除。")
            .arg(difference);
    } catch (const PgError& e) {
        return NotAsked(e.message);
    } catch (const archive::SqlError&) {
        return NotAsked(QStringLiteral("本机测试档案无法读取"));
    }
}

}  // namespace server
