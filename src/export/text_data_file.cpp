#include "export/text_data_file.h"

#include "platform/gbk_codec.h"

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
