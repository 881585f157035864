#include "archive/audit_trail.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <thread>

#include "archive/sqlite_handle.h"

namespace {

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
                                  0});
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
                      0});
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

}  // namespace
