#include "run/recovery_offer.h"

#include <QDateTime>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/archive_writer.h"
#include "platform/message_box.h"
#include "run/archive_session.h"
#include "run/run_audit.h"

namespace {

// The locks of declined tests stay held until the program ends, so that no other copy offers
// a test before its new state has reached the archive (the writer takes its time).
std::vector<std::unique_ptr<archive::TestLock>> g_declined;

}  // namespace

QString RecoveryQuestion(const archive::ArchivedTest& test) {
    return QStringLiteral("上次实验未正常结束（开始于 %1 %2，已保存 %3 条记录）。是否恢复该实验？")
        .arg(test.header.testDate, test.header.startTime)
        .arg(test.records.size());
}

std::optional<RecoveredTest> OfferRecovery(QWidget* owner) {
    const QString path = ArchiveSession::path();
    if (path.isEmpty()) return std::nullopt;
    // An archive that cannot be read has been reported by the writer already.
    QString message;
    std::unique_ptr<archive::ArchiveReader> reader = archive::ArchiveReader::open(path, &message);
    if (!reader) return std::nullopt;

    for (const archive::TestSummary& summary : reader->unfinishedTests()) {
        // A test whose program still runs it is that program's; the lock tells.
        std::unique_ptr<archive::TestLock> lock = archive::TestLock::tryAcquire(path, summary.uid);
        if (!lock) continue;
        // Read again under the lock: another copy may have closed it meanwhile.
        std::optional<archive::ArchivedTest> test = reader->loadTest(summary.id);
        if (!test || test->closed || !archive::IsUnfinished(test->state)) continue;

        const MessageBox::Result answer =
            MessageBox::show(owner, RecoveryQuestion(*test), MessageBox::kAppCaption,
                             MessageBox::Buttons::YesNo, MessageBox::Icon::Question);
        if (answer == MessageBox::Yes) return RecoveredTest{std::move(*test), std::move(lock)};
        if (auto writer = ArchiveSession::writer())
            writer->changeState(summary.uid, archive::TestState::Interrupted,
                                QDateTime::currentMSecsSinceEpoch());
        RunAudit::record(QStringLiteral("recovery_declined"), summary.uid);
        g_declined.push_back(std::move(lock));
    }
    return std::nullopt;
}
