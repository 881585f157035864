#include "history/archive_access.h"

#include "platform/message_box.h"

void WarnOperator(QWidget* owner, const QString& text) {
    MessageBox::show(owner, text, MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                     MessageBox::Icon::Exclamation);
}

std::unique_ptr<archive::ArchiveReader> OpenArchiveReader(const QString& path, QString* message) {
    std::unique_ptr<archive::ArchiveReader> reader =
        path.isEmpty() ? nullptr : archive::ArchiveReader::open(path, message);
    if (!reader && message->isEmpty()) *message = QStringLiteral("没有可用的测试档案。");
    return reader;
}

std::unique_ptr<archive::ArchiveReader> OpenArchiveReaderOrWarn(QWidget* owner,
                                                                const QString& path) {
    QString message;
    std::unique_ptr<archive::ArchiveReader> reader = OpenArchiveReader(path, &message);
    if (!reader) WarnOperator(owner, message);
    return reader;
}

std::optional<archive::ArchivedTest> LoadTestOrWarn(QWidget* owner,
                                                    archive::ArchiveReader& reader, qint64 id) {
    std::optional<archive::ArchivedTest> test = reader.loadTest(id);
    if (!test)
        WarnOperator(owner, reader.lastError().isEmpty()
                                ? QStringLiteral("测试档案中已没有这项实验。")
                                : reader.lastError());
    return test;
}
