#include "archive/audit_trail.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <thread>

#include "archive/archive_open.h"
#include "archive/audit_pending.h"
#include "archive/sqlite_handle.h"

namespace {

bool WaitUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

archive::AuditEvent Event(const char* action, qint64 atMs = 0, const QString& file = {}) {
    archive::AuditEvent e;
    e.action = QString::fromLatin1(action);
    e.testUid = QStringLiteral("t");
    e.user = QStringLiteral("admin");
    e.atMs = atMs;
    e.fileKind = file.isEmpty() ? QString() : QStringLiteral("报表");
    e.filePath = file;
    return e;
}

void WriteFile(const QString& path, const QByteArray& bytes, qint64 at = 0) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.seek(at);
    file.write(bytes);
}

QStringList AuditFiles(const QString& archivePath) {
    return QDir(archivePath + ".locks").entryList({"audit-*"}, QDir::Files, QDir::Name);
}

std::string Actions(const QString& archivePath) {
    archive::Connection db(archivePath, SQLITE_OPEN_READONLY);
    return db
        .queryText(
            "SELECT group_concat(action || '@' || at_ms, ' ') FROM "
            "(SELECT action, at_ms FROM audit_event ORDER BY at_ms, id)")
        .toStdString();
}

// Events handed from several threads at once are all written, each with a uid of its own; an
// export's file is described by its name, size and SHA-256, read on the trail's thread.
TEST(AuditTrailTest, EveryEventFromEveryThreadIsWrittenWithItsFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
    const QString file = dir.filePath(QStringLiteral("数据.bln"));
    const QByteArray bytes = "2026-12-8+检测中心\r\n";
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
    {
        archive::AuditTrail trail(path);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&trail, t] {
                for (int i = 0; i < 25; ++i)
                    trail.record({QStringLiteral("paused_operator"),
                                  QStringLiteral("test-%1").arg(t),
                                  QStringLiteral("admin"),
                                  {},
                                  {},
                                  {},
                                  {},
                                  {},
                                  0,
                                  {}});
            });
        for (auto& t : threads) t.join();
        trail.record({QStringLiteral("exported"),
                      QStringLiteral("test-0"),
                      QStringLiteral("admin"),
                      QStringLiteral("导出文件：文本数据"),
                      QStringLiteral("COM1"),
                      {},
                      QStringLiteral("文本数据"),
                      file,
                      0,
                      {}});
        ASSERT_TRUE(trail.flush(20000));
    }
    archive::Connection db(path, SQLITE_OPEN_READONLY);
    EXPECT_EQ(db.queryInt("SELECT count(DISTINCT uid) FROM audit_event"), 101);
    EXPECT_EQ(db.queryText("SELECT file_name || ' ' || file_size || ' ' || file_sha256 "
                           "FROM audit_event WHERE action = 'exported'"),
              QStringLiteral("数据.bln %1 %2")
                  .arg(bytes.size())
                  .arg(QString::fromLatin1(
                      QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())));
}

// An archive that refuses events (here a file that is no database, as a damaged archive before
// the writer moves it aside) loses none of them: they wait, in order, with the time they were
// handed, are tried again, and what is left at the trail's end is written by the next trail.
TEST(AuditTrailTest, EventsKeepTheirTimeThroughAFailureAndTheProgramsEnd) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
    const auto damage = [&] {
        for (const char* suffix : {"-wal", "-shm"}) QFile::remove(path + suffix);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray("不是数据库\n").repeated(500));
    };
    const auto event = [](const char* action) {
        archive::AuditEvent e;
        e.action = QString::fromLatin1(action);
        e.testUid = QStringLiteral("t");
        e.user = QStringLiteral("admin");
        return e;
    };
    damage();
    qint64 handedBy = 0;
    {
        archive::AuditTrail trail(path, 50);
        trail.record(event("started"));
        trail.record(event("paused_operator"));
        handedBy = QDateTime::currentMSecsSinceEpoch();
        EXPECT_FALSE(trail.flush(20000));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // tried again meanwhile
        QFile::remove(path);  // the archive is back (a new one), and the trail's retry finds it
        ASSERT_TRUE(WaitUntil([&] { return trail.flush(1000); }));
        ASSERT_TRUE(QFile::rename(path, path + ".kept"));
        damage();
        trail.record(event("finished"));
    }  // ends with "finished" unwritten
    QFile::remove(path);
    ASSERT_TRUE(QFile::rename(path + ".kept", path));
    {
        archive::AuditTrail next(path, 50);
        next.record(event("closed"));
        ASSERT_TRUE(WaitUntil([&] { return next.flush(1000); }));
    }
    archive::Connection db(path, SQLITE_OPEN_READONLY);
    EXPECT_EQ(db.queryText("SELECT group_concat(action, ' ') FROM "
                           "(SELECT action FROM audit_event ORDER BY at_ms, id)"),
              QStringLiteral("started paused_operator finished closed"));
    EXPECT_EQ(db.queryInt(QStringLiteral("SELECT count(*) FROM audit_event WHERE action IN "
                                         "('started', 'paused_operator') AND at_ms <= %1")
                              .arg(handedBy)
                              .toUtf8()
                              .constData()),
              2);
    EXPECT_TRUE(QDir(dir.filePath("kivo.sqlite.locks"))
                    .entryList({"audit-*.pending"}, QDir::Files)
                    .isEmpty());
}

// A damaged archive moved aside: the events already written into it, the ones waiting in this
// trail and the ones another program left beside it all go into the new archive, each with the
// time it was handed; an export describes its file as it was when handed, not as it is once the
// archive is back.
TEST(AuditTrailTest, EventsGoIntoTheArchiveMadeInPlaceOfADamagedOne) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
    const QString exported = dir.filePath(QStringLiteral("报表.pdf"));
    WriteFile(exported, "as exported");
    archive::AuditTrail bench(path, 50);
    bench.record(Event("started", 1000));
    ASSERT_TRUE(bench.flush(20000));
    WriteFile(path, "damaged header!!");  // the file is no database any more
    {
        archive::AuditTrail other(path, 50);
        other.record(Event("paused_operator", 2000));
        EXPECT_FALSE(other.flush(20000));
    }  // left beside the archive
    bench.record(Event("exported", 3000, exported));
    EXPECT_FALSE(bench.flush(20000));
    WriteFile(exported, "changed after the export, before the archive is back");
    // The writer moves the damaged file aside once no trail has it open for its retry.
    ASSERT_TRUE(WaitUntil([&] {
        return archive::OpenArchive(path, archive::kBusyTimeoutMs, archive::kArchiveVersion,
                                    archive::Damage::MoveAside)
                   .db != nullptr;
    }));
    ASSERT_EQ(QDir(dir.path()).entryList({"kivo.sqlite.damaged-*"}, QDir::Files).size(), 1);
    bench.record(Event("closed", 4000));
    ASSERT_TRUE(WaitUntil([&] { return bench.flush(1000); }));
    EXPECT_EQ(Actions(path), "started@1000 paused_operator@2000 exported@3000 closed@4000");
    EXPECT_EQ(
        archive::Connection(path, SQLITE_OPEN_READONLY)
            .queryText("SELECT file_name || ' ' || file_size || ' ' || file_sha256 "
                       "FROM audit_event WHERE action = 'exported'"),
        QStringLiteral("报表.pdf 11 %1")
            .arg(QString::fromLatin1(
                QCryptographicHash::hash("as exported", QCryptographicHash::Sha256).toHex())));
    EXPECT_EQ(AuditFiles(path).join(' ').toStdString(), "");
    // Moved aside once more after the last event: the trail ending leaves what it wrote there
    // for the archive made next.
    ASSERT_TRUE(QFile::rename(path, path + ".damaged-again"));
    bench.close();
    archive::AuditTrail next(path, 50);
    next.record(Event("resumed", 5000));
    ASSERT_TRUE(next.flush(20000));
    EXPECT_EQ(Actions(path),
              "started@1000 paused_operator@2000 exported@3000 closed@4000 resumed@5000");
}

// However many events a trail leaves (up to the 10 000 it keeps, each naming a long path), the
// next trail reads every one of them, in their order.
TEST(AuditTrailTest, ManyLongEventsLeftAtOnceAreAllTakenUp) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
    std::deque<archive::AuditEvent> events;
    for (int n = 0; n < 5000; ++n) {
        events.push_back(Event("exported", n));
        events.back().uid = QString::number(n);
        events.back().detail = QString(4000, QLatin1Char('x'));
    }
    ASSERT_EQ(archive::LeavePendingAudit(path, events), 5000);
    archive::PendingLog log;
    std::vector<archive::AuditEvent> taken;
    archive::TakeUpPendingAudit(path, log, [&](const std::vector<archive::AuditEvent>& some) {
        taken.insert(taken.end(), some.begin(), some.end());
    });
    ASSERT_EQ(taken.size(), events.size());
    for (size_t n = 0; n < taken.size(); ++n) ASSERT_EQ(taken[n].uid, QString::number(n)) << n;
    EXPECT_TRUE(AuditFiles(path).isEmpty()) << AuditFiles(path).join(' ').toStdString();
}

// Files of events left beside the archive are taken up by trails already running, once each,
// whoever claims them first; a file claimed by a trail that died is taken up too, one a live
// claimer holds waits until it lets go; one that cannot be understood, a link, or one larger
// than any trail leaves is kept, never deleted. A taken-up event keeps the bench it happened on
// and never has its file opened by the taker.
TEST(AuditTrailTest, TrailsTakeUpLeftEventsOnceAndKeepWhatTheyCannotRead) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
    // Events left by a trail that ended on a damaged archive, as a file of their own.
    const auto left = [&](const char* action, qint64 atMs) {
        const QString damaged = dir.filePath(QStringLiteral("damaged-%1.sqlite").arg(atMs));
        WriteFile(damaged, QByteArray("不是数据库\n").repeated(100));
        const mode_t umask = ::umask(077);  // an operator account that keeps its files
        {
            archive::AuditTrail trail(damaged, 50);
            trail.record(Event(action, atMs));
        }
        ::umask(umask);
        const QStringList files = AuditFiles(damaged);
        EXPECT_EQ(files.size(), 1);
        const QString name = damaged + ".locks/" + files.value(0);
        struct stat status {};
        EXPECT_EQ(::stat(QFile::encodeName(name).constData(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0664u) << "readable by the group's other accounts";
        QFile file(name);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    const QString exported = dir.filePath(QStringLiteral("报表.pdf"));
    WriteFile(exported, "exported on another bench");
    const QString linked = dir.filePath(QStringLiteral("elsewhere"));
    const QByteArray elsewhere = left("recovery_declined", 3500);
    WriteFile(linked, elsewhere);
    struct Case {
        const char* name;  // as found beside the archive
        QByteArray content;
        const char* keptAs;  // null: taken up and removed
        bool link = false;   // a link to a file of events elsewhere
    };
    const Case cases[] = {
        {"audit-1.pending", left("finished", 1000), nullptr},
        {"audit-2.taking-of-a-killed-trail", left("closed", 2000), nullptr},
        {"audit-3.pending", "不是事件", "audit-3.unreadable"},
        {"audit-4.pending", R"([{"action": "deleted", "atMs": "3000"}])", "audit-4.unreadable"},
        {"audit-5.pending", elsewhere, "audit-5.unreadable", true},
        {"audit-6.pending", left("recovered", 3600) + QByteArray(17 << 20, ' '),
         "audit-6.unreadable"},
        // Left by an older program: its file is named, never read by the taker.
        {"audit-7.pending",
         QStringLiteral(R"([{"uid": "u7", "action": "printed", "atMs": "4000", "hostName": )"
                        R"("bench-7", "fileKind": "报表", "filePath": "%1"}])")
             .arg(exported)
             .toUtf8(),
         nullptr},
        {"audit-8.taking-of-a-live-trail", left("comm_failure", 4500), nullptr},
    };
    archive::AuditTrail first(path, 50), second(path, 50);
    first.record(Event("started", 1));
    second.record(Event("started", 2));
    ASSERT_TRUE(first.flush(20000));
    ASSERT_TRUE(second.flush(20000));
    ASSERT_TRUE(QDir().mkpath(path + ".locks"));
    for (const Case& c : cases) {
        if (c.link)
            ASSERT_TRUE(QFile::link(linked, path + ".locks/" + c.name));
        else
            WriteFile(path + ".locks/" + c.name, c.content);
    }
    const QString live = path + ".locks/audit-8.taking-of-a-live-trail";
    const int held = ::open(QFile::encodeName(live).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    std::thread other([&] { second.record(Event("paused_operator", 5000)); });
    first.record(Event("resumed", 6000));
    other.join();
    ASSERT_TRUE(WaitUntil([&] { return first.flush(1000) && second.flush(1000); }));
    EXPECT_EQ(Actions(path),
              "started@1 started@2 finished@1000 closed@2000 printed@4000 paused_operator@5000 "
              "resumed@6000");
    EXPECT_TRUE(QFile::exists(live)) << "held by its claimer";
    ::close(held);
    first.record(Event("instrument_stopped", 7000));
    ASSERT_TRUE(WaitUntil([&] { return first.flush(1000); }));
    EXPECT_EQ(Actions(path),
              "started@1 started@2 finished@1000 closed@2000 printed@4000 comm_failure@4500 "
              "paused_operator@5000 resumed@6000 instrument_stopped@7000");
    archive::Connection db(path, SQLITE_OPEN_READONLY);
    EXPECT_EQ(db.queryText("SELECT host_name || ' ' || file_name || ' ' || "
                           "coalesce(file_size, 'unread') FROM audit_event WHERE uid = 'u7'"),
              QStringLiteral("bench-7 报表.pdf unread"));
    QStringList kept;
    for (const Case& c : cases) {
        if (!c.keptAs) continue;
        kept << QString::fromLatin1(c.keptAs);
        QFile file(path + ".locks/" + c.keptAs);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << c.name;
        EXPECT_EQ(file.readAll(), c.content) << c.name;
    }
    EXPECT_EQ(AuditFiles(path).join(' ').toStdString(), kept.join(' ').toStdString());
}

}  // namespace
