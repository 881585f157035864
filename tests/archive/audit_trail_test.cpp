#include "archive/audit_trail.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <thread>

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

}  // namespace
