// A lab server that never answers (a listener that accepts and says nothing, or a server that
// goes quiet after the login): a read of it ends by its time limit, 取消读取 ends it at once,
// and no refresh leaves a thread behind.

#include "silent_server.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include "history/history_window.h"
#include "history/server_read.h"
#include "server/server_reader.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"

namespace {

using Mode = SilentServer::Mode;

int Threads() {
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

TEST(SilentServerRead, EndsByItsTimeLimit) {
    for (const Mode mode : {Mode::Mute, Mode::AfterLogin}) {
        SilentServer silent(mode);
        ServerRead read;
        bool done = false;
        QString outcome;
        const QString uri = silent.uri();
        read.start(
            [uri] {
                server::PgConnection::Options o;
                o.conninfo = uri;
                o.connectTimeoutSeconds = 1;
                o.statementTimeoutMs = 500;
                o.readOnly = true;
                return o;
            },
            [](server::PgConnection& db) { server::ListServerTests(db); },
            [&](const QString& error) {
                outcome = error;
                done = true;
            });
        ASSERT_TRUE(PumpUntil([&] { return done; }, 30000)) << int(mode);
        EXPECT_EQ(outcome, QStringLiteral("服务器没有应答")) << int(mode);
    }
}

TEST(SilentServerRead, CancelEndsItAtOnceAndNoRefreshLeavesAThread) {
    ScriptedMessageBoxes boxes;
    QTemporaryDir dir;
    for (const Mode mode : {Mode::Mute, Mode::AfterLogin}) {
        SilentServer silent(mode);
        qputenv("KIVO_SERVER", silent.uri().toUtf8());
        {
            HistoryWindow window(nullptr, dir.filePath(QStringLiteral("kivo.sqlite")), {});
            PumpFor(50);
            const int before = Threads();
            window.setSource(HistoryWindow::Source::Server);
            for (int refresh = 0; refresh < 8; ++refresh) {
                PumpFor(100);  // connected (or not) meanwhile
                window.refresh();
                ASSERT_TRUE(window.serverRead()->busy());
            }
            PumpFor(100);
            window.cancelButton()->click();
            EXPECT_FALSE(window.serverRead()->busy());
            EXPECT_EQ(window.statusText(), QStringLiteral("已取消读取实验室服务器"));
            // Every read's worker has ended; at most the two cancel requests the program allows
            // at a time still wait for the silent server.
            EXPECT_TRUE(PumpUntil([&] { return Threads() <= before + 2; }, 20000))
                << int(mode) << ": " << Threads() - before << " threads more";
        }
        qunsetenv("KIVO_SERVER");
    }
}

}  // namespace
