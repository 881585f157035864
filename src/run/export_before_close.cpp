#include "archive/archive_writer.h"
#include "monitor/testclass.h"
#include "platform/message_box.h"
#include "run/archive_session.h"
#include "run/archived_run.h"
#include "run/unarchived_records.h"

// The archive keeps what it could not take only while the program runs: once the window has
// gone, records still missing from the archive are only in the files exported from it. So the
// operator is asked while the window and its save buttons are still there. A record handed a
// moment ago to a working archive is written within milliseconds (and given more time at the
// end): only an archive that fails now is asked about.
bool Testclass::OfferExportBeforeClosing() {
    const QString uid = ArchivedRun::uid();
    if (uid.isEmpty()) return true;
    const std::shared_ptr<archive::ArchiveWriter> writer = ArchiveSession::writer();
    if (!writer || !writer->failed()) return true;
    const int missing = UnarchivedRecords::count(uid);
    if (missing == 0) return true;
    const QString text =
        QStringLiteral(
            "测试档案 %1 目前无法写入，本次实验还有 %2 条记录没有存入档案。关闭实验窗口后，"
            "这些记录只保存在已导出的文件中。\n\n"
            "先导出：回到实验窗口，用“保存文本数据”“保存当前趋势图”“保存数据EXCEL”导出。\n"
            "仍然关闭：不再导出，关闭实验窗口。")
            .arg(ArchiveSession::path())
            .arg(missing);
    static const QStringList choices = {QStringLiteral("先导出(&E)"),
                                        QStringLiteral("仍然关闭(&C)")};
    return MessageBox::choose(this, text, choices, 0) == 1;
}
