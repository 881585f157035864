#include "export/text_data_file.h"

#include <QFileInfo>
#include <algorithm>

#include "export/file_replace.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/file_dialog.h"
#include "platform/gbk_codec.h"
#include "platform/message_box.h"

namespace {

const QString kLineEnd = QStringLiteral("\r\n");

QString headerLine(const TextDataSnapshot& s) {
    QString letters;
    for (uint8_t off : s.channelOff) letters += off == 0 ? QLatin1Char('o') : QLatin1Char('n');
    return s.testDate + QLatin1Char('+') + s.organisation + QLatin1Char('+') + s.tester +
           QLatin1Char('+') + QString::number(s.recordInterval) + QLatin1Char('+') +
           QString::number(s.diameter) + QLatin1Char('+') + letters;
}

// Names the first text GBK cannot hold, for the message to the operator.
QString firstUnencodable(const TextDataSnapshot& s) {
    if (!gbk::canEncode(s.testDate)) return QStringLiteral("测试日期");
    if (!gbk::canEncode(s.organisation)) return QStringLiteral("测试单位");
    if (!gbk::canEncode(s.tester)) return QStringLiteral("测试人员");
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
        for (const TextDataSnapshot::Row& row : s.history[slot]) {
            if (!gbk::canEncode(row.recordNo + row.current + row.charge))
                return QStringLiteral("通道%1的记录").arg(slot + 1);
        }
    }
    return QStringLiteral("数据");
}

}  // namespace

TextDataSnapshot TakeTextDataSnapshot(const Testclass& form) {
    TextDataSnapshot s;
    s.testDate = form.itemTextOnGui(FormId::TestDate);
    s.organisation = g_strOrganisation;
    s.tester = g_strTester;
    s.recordInterval = g_nRecordInterval;
    s.diameter = g_nDiameter;
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) s.channelOff[slot] = g_bChannelOff[slot];
    s.lastRecord = g_nLastRecord;
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
        const qint64 rows = std::min<qint64>(form.historyRowCount(slot), qint64{s.lastRecord} + 1);
        QList<TextDataSnapshot::Row>& history = s.history[slot];
        history.reserve(rows);
        for (int r = 0; r < rows; ++r) {
            history.append({form.historyCell(slot, r, HistoryColumn::RecordNo),
                            form.historyCell(slot, r, HistoryColumn::Current),
                            form.historyCell(slot, r, HistoryColumn::Charge)});
        }
    }
    return s;
}

TextDataFile BuildTextDataFile(const TextDataSnapshot& s) {
    QString text = headerLine(s) + kLineEnd;
    text.reserve(text.size() + static_cast<qsizetype>(s.lastRecord + 1) * 6 * 24);
    for (uint64_t r = 0; r <= s.lastRecord; ++r) {
        for (const QList<TextDataSnapshot::Row>& history : s.history) {
            if (r < static_cast<uint64_t>(history.size())) {
                const TextDataSnapshot::Row& row = history[static_cast<qsizetype>(r)];
                text += row.recordNo + QLatin1Char('+') + row.current + QLatin1Char('+') +
                        row.charge + QLatin1Char(':');
            } else {
                text += QStringLiteral("++:");
            }
        }
        text += kLineEnd;
    }

    TextDataFile file;
    std::optional<QByteArray> bytes = gbk::encode(text);
    if (bytes) {
        file.bytes = std::move(*bytes);
    } else {
        file.unencodable = firstUnencodable(s);
    }
    return file;
}

void Testclass::OnSaveText() {
    FileDialog::SaveRequest request;
    request.filter = QStringLiteral("*.bln");
    request.defaultSuffix = QStringLiteral("bln");
    request.proposedName = ProposedExportName();
    request.confirmOverwrite = true;
    const QString path = FileDialog::getSaveFileName(this, request);
    if (path.isEmpty()) return;

    const TextDataFile file = BuildTextDataFile(TakeTextDataSnapshot(*this));
    if (!file.ok()) {
        MessageBox::show(this,
                         QStringLiteral("%1中有GBK编码无法保存的字符，文本数据没有保存。\n"
                                        "请改用GBK能表示的文字后再保存。")
                             .arg(file.unencodable),
                         MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
        return;
    }
    const bool existed = QFileInfo::exists(path);
    QString reason;
    if (!ReplaceFileContents(path, file.bytes, &reason)) {
        QString text = QStringLiteral("无法保存文本数据文件：\n%1\n%2").arg(path, reason);
        if (existed) text += QStringLiteral("\n原有的同名文件没有改动。");
        MessageBox::show(this, text, MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
    }
}
