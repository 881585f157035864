#pragma once

#include <gtest/gtest.h>

#include <QMap>
#include <QProcess>
#include <QString>
#include <algorithm>
#include <vector>

#include "archive/archive_open.h"
#include "archive/archive_reader.h"
#include "archive/sqlite_handle.h"
#include "server/pg_connection.h"
#include "server/server_rows.h"
#include "server/server_sender.h"
#include "support/pg_cluster.h"
#include "support/run_harness.h"

// The lab server of the tests: one private cluster per test program, a role "kivo" with a
// password, and a fresh database of its own for each test.
namespace ServerTesting {

inline const QString kRole = QStringLiteral("kivo");
inline const QString kPassword = QStringLiteral("Kivo-pw-1");

inline PgCluster& Cluster() {
    // Stopped and removed when the test program ends.
    static PgCluster cluster;
    static const bool ready =
        cluster.valid() && cluster.start() && cluster.createRole(kRole, kPassword);
    EXPECT_TRUE(ready) << cluster.error().toStdString();
    return cluster;
}

// A database owned by kivo; its URI with the password, as KIVO_SERVER gives it.
inline QString FreshDatabase() {
    static int count = 0;
    const QString name = QStringLiteral("lab%1").arg(++count);
    EXPECT_TRUE(Cluster().createDatabase(name, kRole));
    return name;
}

inline QString UriWithPassword(const QString& database, const QString& role = kRole,
                               const QString& password = kPassword) {
    return QStringLiteral("postgresql://%1:%2@127.0.0.1:%3/%4")
        .arg(role, password)
        .arg(Cluster().port())
        .arg(database);
}

inline server::PgConnection Superuser(const QString& database) {
    return server::PgConnection({Cluster().uri(database), {}, 10});
}

inline qint64 Count(const QString& database, const QString& select) {
    return Cluster().query(select, database).toLongLong();
}

// Runs a program of the PostgreSQL client tools (psql, pg_dump, pg_restore, or the packaging's
// kivo-add-bench) as the superuser against the cluster; empty on success, else its output.
inline QString RunClient(const QString& program, const QStringList& args,
                         const QMap<QString, QString>& extraEnv = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGHOST"), QStringLiteral("127.0.0.1"));
    env.insert(QStringLiteral("PGPORT"), QString::number(Cluster().port()));
    env.insert(QStringLiteral("PGUSER"), QStringLiteral("postgres"));
    for (auto it = extraEnv.begin(); it != extraEnv.end(); ++it) env.insert(it.key(), it.value());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForFinished(120000)) return program + QStringLiteral(" did not finish");
    const QString output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0
               ? QString()
               : program + QStringLiteral(": ") + output;
}

// A bench's own role, made as the README says, with the packaging's script.
inline QString AddBenchRole(const QString& database, const QString& role, const QString& password) {
    return RunClient(QStringLiteral("sh"),
                     {QStringLiteral(KIVO_SOURCE_DIR "/packaging/kivo-add-bench"),
                      QStringLiteral("--database"), database, role},
                     {{QStringLiteral("KIVO_BENCH_PASSWORD"), password}});
}

// Settings that name the database by URI (the sender reads them instead of the lab settings).
inline server::ServerSender::Options SenderOptions(const QString& uri) {
    server::ServerSender::Options o;
    o.settings = [uri] {
        server::ServerSettings s;
        s.uri = uri;
        return s;
    };
    o.idleCheckMs = 200;
    o.minRetryMs = 100;
    o.maxRetryMs = 1000;
    return o;
}

// Waits until the sender says everything is on the server.
inline bool WaitSynced(const server::ServerSender& sender, int ms = 30000) {
    return PumpUntil([&] { return sender.status().state == server::ServerSender::State::Synced; },
                     ms);
}

// Every test of the local archive is on the server exactly as the archive keeps it: header,
// records (their last revision), polls, state changes, audit events; and nothing else.
inline void ExpectServerHolds(const QString& database, const QString& archivePath, size_t tests) {
    std::unique_ptr<archive::ArchiveReader> reader =
        archive::ArchiveReader::open(archivePath, nullptr);
    ASSERT_TRUE(reader);
    server::PgConnection db = Superuser(database);
    ASSERT_EQ(reader->listTests().size(), tests);
    for (const archive::TestSummary& summary : reader->listTests()) {
        const auto local = reader->loadTest(summary.id);
        ASSERT_TRUE(local);
        const QString uid = local->header.uid;
        server::PgParams key;
        key.add(uid);
        const server::PgResult h =
            db.exec((QByteArray("SELECT ") + server::kTestColumns + " FROM tests WHERE uid = $1")
                        .constData(),
                    key);
        ASSERT_EQ(h.rows(), 1) << uid.toStdString();
        // The lock's key names the bench's own archive: the server has no use for it.
        archive::TestHeader header = local->header;
        header.lockKey.clear();
        EXPECT_EQ(server::HeaderAt(h, 0), header);

        const server::PgResult r =
            db.exec((QByteArray("SELECT DISTINCT ON (number) ") + server::kRecordColumns +
                     " FROM records WHERE test_uid = $1 ORDER BY number, revision DESC")
                        .constData(),
                    key);
        std::vector<archive::RecordRow> records;
        for (int i = 0; i < r.rows(); ++i) records.push_back(server::RecordAt(r, i));
        EXPECT_EQ(records, local->records);

        const server::PgResult p = db.exec((QByteArray("SELECT ") + server::kPollColumns +
                                            " FROM polls WHERE test_uid = $1 ORDER BY seq")
                                               .constData(),
                                           key);
        std::vector<archive::PollRow> polls;
        for (int i = 0; i < p.rows(); ++i) polls.push_back(server::PollAt(p, i));
        const std::vector<archive::PollRow> localPolls = reader->polls(summary.id);
        EXPECT_EQ(polls.size(), localPolls.size());
        EXPECT_TRUE(polls == localPolls);

        const server::PgResult s = db.exec(
            "SELECT state, at_ms FROM state_changes WHERE test_uid = $1 ORDER BY ordinal", key);
        std::vector<archive::StateChange> states;
        for (int i = 0; i < s.rows(); ++i)
            states.push_back({*archive::StateFromName(s.text(i, 0)), s.integer(i, 1)});
        EXPECT_EQ(states, local->states);
    }
    // The audit events, by their uids.
    archive::Connection local(archivePath, SQLITE_OPEN_READONLY);
    archive::Statement e(local, "SELECT uid, action, user_name FROM audit_event ORDER BY uid");
    QStringList localEvents;
    while (e.step()) localEvents << e.text(0) + ' ' + e.text(1) + ' ' + e.text(2);
    const server::PgResult se =
        db.exec("SELECT uid, action, user_name FROM audit_events ORDER BY uid COLLATE \"C\"");
    QStringList serverEvents;
    for (int i = 0; i < se.rows(); ++i)
        serverEvents << se.text(i, 0) + ' ' + se.text(i, 1) + ' ' + se.text(i, 2);
    std::sort(localEvents.begin(), localEvents.end());
    EXPECT_EQ(serverEvents, localEvents);
}

}  // namespace ServerTesting

#include "archive/test_writes.h"

namespace ServerTesting {

inline archive::TestHeader Header(const QString& uid, const QString& device) {
    archive::TestHeader h;
    h.uid = uid;
    h.testDate = QStringLiteral("2026-12-8");
    h.startTime = QStringLiteral("08:05:09");
    h.startedAtMs = 1'796'000'000'000;
    h.user = QStringLiteral("admin");
    h.portName = QStringLiteral("COM1");
    h.portDevice = device;
    h.voltage = QStringLiteral("60");
    h.testMinutes = 360;
    h.recordInterval = 5;
    h.diameter = 100;
    h.tester = QStringLiteral("张工");
    h.organisation = QStringLiteral("检测中心");
    for (int slot = 0; slot < archive::kSpecimenSlots; ++slot)
        h.specimenNo[slot] = QStringLiteral("S-%1").arg(slot);
    h.channelOff = {0, 0, 0, 0, 0, 1};
    h.programVersion = QStringLiteral("1.0.0");
    return h;
}

inline archive::RecordRow Record(int n, const QString& mark = {}) {
    archive::RecordRow r;
    r.number = n;
    r.minutes = n * 5;
    r.temperature = QStringLiteral("%1.5").arg(20 + n % 10) + mark;
    r.atMs = 1'796'000'000'000 + qint64{n} * 300'000;
    for (int ch = 0; ch < 5; ++ch) {
        r.current[ch] = QStringLiteral("%1.%2(mA)").arg(40 + ch).arg(n % 100, 2, 10, QChar('0'));
        r.charge[ch] = QStringLiteral("%1.5(C)").arg(n * 12 + ch);
    }
    return r;
}

inline archive::PollRow Poll(int n) {
    archive::PollRow p;
    p.atMs = 1'796'000'000'000 + qint64{n} * 2000;
    p.minutes = n / 30;
    p.voltage = QStringLiteral("60.0");
    p.temperature = QStringLiteral("23.%1").arg(n % 10);
    for (int ch = 0; ch < 5; ++ch) {
        p.current[ch] = QStringLiteral("%1.%2(mA)").arg(40 + ch).arg(n % 100);
        p.charge[ch] = QStringLiteral("%1.0(C)").arg(n + ch);
    }
    return p;
}

// A test of `records` records and `polls` polls (a six-hour test: 72 and 10 800), written as
// the program's writer writes it, in the archive at `path`.
inline void WriteTest(const QString& path, const archive::TestHeader& header, int records,
                      int polls) {
    archive::OpenedArchive opened = archive::OpenArchive(path);
    ASSERT_TRUE(opened.db) << opened.message.toStdString();
    archive::TestWrites writes(*opened.db);
    writes.beginTest(header);
    writes.changeState(header.uid, archive::TestState::Running, header.startedAtMs);
    std::vector<archive::PollRow> rows;
    for (int n = 1; n <= polls; ++n) rows.push_back(Poll(n));
    std::vector<std::pair<QString, const archive::PollRow*>> batch;
    for (const auto& p : rows) batch.emplace_back(header.uid, &p);
    writes.addPolls(batch);
    for (int n = 1; n <= records; ++n) writes.addRecord(header.uid, Record(n));
    writes.changeState(header.uid, archive::TestState::FinishedByMinutes,
                       header.startedAtMs + 21'600'000);
    writes.changeState(header.uid, archive::TestState::Closed, header.startedAtMs + 21'700'000);
}

}  // namespace ServerTesting
