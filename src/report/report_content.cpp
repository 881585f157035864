#include "report/report_content.h"

#include <QDate>
#include <QDateTime>

#include "export/penetrability.h"
#include "export/poll_csv.h"

namespace {

QDate TestDate(const archive::ArchivedTest& test) {
    const QStringList parts = test.header.testDate.split(u'-');
    if (parts.size() == 3) {
        const QDate date(parts[0].toInt(), parts[1].toInt(), parts[2].toInt());
        if (date.isValid()) return date;
    }
    return QDateTime::fromMSecsSinceEpoch(test.header.startedAtMs).date();
}

QString ClockTime(qint64 atMs) {
    return QDateTime::fromMSecsSinceEpoch(atMs).toString(QStringLiteral("HH:mm:ss"));
}

// A reading with its unit when it is a number ("60.0" → "60.0 V"), else as stored.
QString WithUnit(const QString& text, const QString& unit) {
    const QString number = ReadingNumber(text);
    if (number.isEmpty()) return text.isEmpty() ? QStringLiteral("-") : text;
    return number + u' ' + unit;
}

// The instrument's minute count at the end: the last poll's, else the last record's.
std::optional<int> LastMinutes(const archive::ArchivedTest& test,
                               const std::vector<archive::PollRow>& polls) {
    for (auto it = polls.rbegin(); it != polls.rend(); ++it)
        if (it->minutes) return it->minutes;
    for (auto it = test.records.rbegin(); it != test.records.rend(); ++it)
        if (it->minutes) return it->minutes;
    return std::nullopt;
}

}  // namespace

QString ReportNumber(const archive::ArchivedTest& test) {
    return QStringLiteral("DTL-%1-%2")
        .arg(TestDate(test).toString(QStringLiteral("yyyyMMdd")))
        .arg(test.id, 4, 10, QChar(u'0'));
}

ReportContent MakeReportContent(const archive::ArchivedTest& test,
                                const std::vector<archive::PollRow>& polls, GradingScheme scheme) {
    const archive::TestHeader& h = test.header;
    ReportContent r;
    r.title = QStringLiteral("混凝土氯离子电通量试验报告");
    r.reportNumber = ReportNumber(test);
    r.schemeName = GradingSchemeName(scheme);

    const std::optional<int> minutes = LastMinutes(test, polls);
    QString bench = h.portName;
    if (!h.portDevice.isEmpty()) bench += QStringLiteral("（%1）").arg(h.portDevice);
    r.fields = {
        {QStringLiteral("测试单位"), h.organisation},
        {QStringLiteral("测试人员"), h.tester},
        {QStringLiteral("试验日期"), TestDate(test).toString(QStringLiteral("yyyy-MM-dd"))},
        {QStringLiteral("开始时间"), h.startTime},
        {QStringLiteral("试验时长"),
         QStringLiteral("%1 min（设定 %2 min）")
             .arg(minutes ? QString::number(*minutes) : QStringLiteral("-"))
             .arg(h.testMinutes)},
        {QStringLiteral("试验电压"), WithUnit(h.voltage, QStringLiteral("V"))},
        {QStringLiteral("试件直径"), QStringLiteral("%1 mm").arg(h.diameter)},
        {QStringLiteral("评定标准"), r.schemeName},
        {QStringLiteral("试验仪器"), bench.isEmpty() ? QStringLiteral("-") : bench},
        {QStringLiteral("程序版本"), h.programVersion},
    };

    const std::array<QString, archive::kChannels> charges =
        test.records.empty() ? std::array<QString, archive::kChannels>{}
                             : test.records.back().charge;
    const TestResults results = ResultsOf(charges, h.channelOff, h.diameter);
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        if (h.channelOff[slot] != 0) continue;
        const std::optional<ChargeResult>& q = results.channels[slot];
        QString current;
        if (!polls.empty())
            current = ReadingNumber(polls.back().current[slot]);
        else if (!test.records.empty())
            current = ReadingNumber(test.records.back().current[slot]);
        r.channels.push_back({QString::number(slot + 1), h.specimenNo[slot],
                              ChargeWithoutUnit(charges[slot]),
                              q ? AdjustedChargeText(q->adjusted) : QStringLiteral("-"),
                              q ? GradeText(q->adjusted, scheme) : QStringLiteral("-"),
                              current.isEmpty() ? QStringLiteral("-") : current});
    }
    for (int g = 0; g < kGroups; ++g) {
        const std::optional<GroupResult>& group = results.groups[g];
        if (!group) continue;
        QString value = AdjustedChargeText(group->value);
        if (group->rule == GroupRule::Incomplete) value += u'*';
        r.groups.push_back(
            {GroupName(g), value, GradeText(group->value, scheme), GroupRuleText(*group)});
    }

    r.chart = CurrentSeriesOf(test, polls, kReportChartColumns);

    const qint64 start = h.startedAtMs;
    for (const TestEvent& e : TestEvents(test, polls)) {
        const qint64 elapsed = start > 0 ? std::max<qint64>(0, e.atMs - start) / 60000 : 0;
        r.events.push_back({ClockTime(e.atMs), QStringLiteral("%1 min").arg(elapsed), e.text});
    }
    const std::optional<HighestTemperature> hot = HighestTemperatureOf(test, polls);
    r.highestTemperature =
        hot ? QStringLiteral("%1 ℃（%2）").arg(hot->celsius, 0, 'f', 1).arg(ClockTime(hot->atMs))
            : QStringLiteral("-");
    return r;
}
