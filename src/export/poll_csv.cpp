#include "export/poll_csv.h"

#include <QDateTime>
#include <QRegularExpression>
#include <algorithm>

namespace {

QString Header() {
    QStringList columns = {QStringLiteral("时间"), QStringLiteral("分钟(min)"),
                           QStringLiteral("电压(V)"), QStringLiteral("温度(℃)")};
    for (int ch = 1; ch <= archive::kChannels; ++ch) {
        columns << QStringLiteral("通道%1电流(mA)").arg(ch)
                << QStringLiteral("通道%1电量(C)").arg(ch);
    }
    columns << QStringLiteral("记录号");
    return columns.join(u',');
}

QString LocalTime(qint64 atMs) {
    return QDateTime::fromMSecsSinceEpoch(atMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// For each poll, the numbers of the records taken from it ("" for most).
std::vector<QString> RecordMarks(const std::vector<archive::PollRow>& polls,
                                 const std::vector<archive::RecordRow>& records) {
    std::vector<QString> marks(polls.size());
    for (const archive::RecordRow& record : records) {
        // Polls are in the order taken, so their instants only grow.
        const auto after = std::upper_bound(
            polls.begin(), polls.end(), record.atMs,
            [](qint64 at, const archive::PollRow& poll) { return at < poll.atMs; });
        if (after == polls.begin()) continue;  // no poll before it
        QString& mark = marks[static_cast<size_t>(after - polls.begin() - 1)];
        // Two records from one poll (a test taken up again at once) share the row.
        if (!mark.isEmpty()) mark += u' ';
        mark += QString::number(record.number);
    }
    return marks;
}

}  // namespace

QString ReadingNumber(const QString& text) {
    static const QRegularExpression kNumber(
        QStringLiteral(R"(^\s*([+-]?(?:\d+\.?\d*|\.\d+))\s*(?:\([^()]*\))?\s*$)"));
    const QRegularExpressionMatch match = kNumber.match(text);
    return match.hasMatch() ? match.captured(1) : QString();
}

QByteArray BuildPollCsv(const std::vector<archive::PollRow>& polls,
                        const std::vector<archive::RecordRow>& records) {
    const std::vector<QString> marks = RecordMarks(polls, records);
    QString text;
    text.reserve(static_cast<qsizetype>(polls.size()) * 120 + 200);
    text += Header();
    text += QStringLiteral("\r\n");
    for (size_t i = 0; i < polls.size(); ++i) {
        const archive::PollRow& poll = polls[i];
        text += LocalTime(poll.atMs);
        text += u',';
        if (poll.minutes) text += QString::number(*poll.minutes);
        text += u',';
        text += ReadingNumber(poll.voltage);
        text += u',';
        text += ReadingNumber(poll.temperature);
        for (int ch = 0; ch < archive::kChannels; ++ch) {
            text += u',';
            text += ReadingNumber(poll.current[ch]);
            text += u',';
            text += ReadingNumber(poll.charge[ch]);
        }
        text += u',';
        text += marks[i];
        text += QStringLiteral("\r\n");
    }
    return QByteArrayLiteral("\xEF\xBB\xBF") + text.toUtf8();
}
