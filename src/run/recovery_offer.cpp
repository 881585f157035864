#include "run/recovery_offer.h"

#include <QDateTime>

#include "archive/archive_reader.h"
#include "archive/archive_writer.h"
#include "platform/message_box.h"
#include "run/archive_session.h"
#include "run/run_audit.h"

namespace {

// The answers, in the order of their buttons.
enum Answer { kRecover, kLater, kAbandon };

// Marks the test interrupted. Its lock goes once that is in the archive, so that no copy of
// the program finds the test unlocked while the archive still calls it unfinished; the lock is
// free for 删除 as soon as the commit returns.
void Abandon(const QString& uid, std::unique_ptr<archive::TestLock> lock) {
    RunAudit::record(QStringLiteral("recovery_declined"), uid);
    std::shared_ptr<archive::ArchiveWriter> writer = ArchiveSession::writer();
    if (!writer) return;
    writer->changeState(uid, archive::TestState::Interrupted, QDateTime::currentMSecsSinceEpoch());
    writer->release(std::move(lock));
}

}  // namespace

QString RecoveryQuestion(const archive::ArchivedTest& test) {
    const archive::TestHeader& h = test.header;
    QString bench = h.portName;
    if (!h.portDevice.isEmpty())
        bench += bench.isEmpty() ? h.portDevice : QStringLiteral("（%1）").arg(h.portDevice);
    QString text = bench.isEmpty() ? QStringLiteral("有一项实验未正常结束：")
                                   : bench + QStringLiteral("上的实验未正常结束：");
    text += QStringLiteral("开始于 %1 %2").arg(h.testDate, h.startTime);
    if (!h.tester.isEmpty()) text += QStringLiteral("，测试人 %1").arg(h.tester);
    if (!h.organisation.isEmpty()) text += QStringLiteral("，测试单位 %1").arg(h.organisation);
    text += QStringLiteral("，已保存 %1 条记录。").arg(test.records.size());
    text += QStringLiteral(
        "\n\n恢复：接着进行这项实验。\n以后再说：现在不处理，下次新建实验时再问。\n"
        "放弃：将这项实验标为中断，已保存的记录保留。");
    return text;
}

const QStringList& RecoveryChoices() {
    static const QStringList choices = {QStringLiteral("恢复(&R)"), QStringLiteral("以后再说(&L)"),
                                        QStringLiteral("放弃(&A)")};
    return choices;
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
        QString why;
        std::unique_ptr<archive::TestLock> lock = archive::TestLock::tryAcquire(
            path, summary.uid, nullptr, &why, summary.lockKey, summary.lockHolder);
        if (!lock) {
            // A lock that cannot be checked may belong to a program still running the test.
            if (!why.isEmpty())
                MessageBox::show(owner,
                                 why + QStringLiteral("\n%1 %2 开始的实验本次不提出恢复。")
                                           .arg(summary.testDate, summary.startTime),
                                 MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                                 MessageBox::Icon::Exclamation);
            continue;
        }
        // Read again under the lock: another copy may have closed it meanwhile.
        std::optional<archive::ArchivedTest> test = reader->loadTest(summary.id);
        if (!test || test->closed || !archive::IsUnfinished(test->state)) continue;

        switch (MessageBox::choose(owner, RecoveryQuestion(*test), RecoveryChoices(), kLater)) {
            case kRecover:
                // The tests not asked about yet stay as they are, for the next time.
                return RecoveredTest{std::move(*test), std::move(lock)};
            case kAbandon:
                Abandon(summary.uid, std::move(lock));
                break;
            default:
                break;  // its lock goes: the next 新建实验, here or in another copy, asks again
        }
    }
    return std::nullopt;
}
