#include "report/report_content.h"

#include <QDate>
#include <QDateTime>
#include <QUrl>

#include "export/penetrability.h"
#include "export/poll_csv.h"
#include "server/verification_code.h"

namespace {

QDate TestDate(const archive::ArchivedTest& test) {
    const QStringList parts = test.header.testDate.split(u'-');
    if (parts.size() == 3) {
        const QDate date(parts[0].toInt(), parts[1].toInt(), parts[2].toInt());
        if (date.isValid()) return date;
    }
    return QDateTime::fromMSecsSinceEpoch(test.header.startedAtMs).date();
}

// "08:12:40"; with the date when the test runs across midnight ("2026-12-09 00:12:40").
QString ClockTime(qint64 atMs, bool withDate) {
    return QDateTime::fromMSecsSinceEpoch(atMs).toString(
        withDate ? QStringLiteral("yyyy-MM-dd HH:mm:ss") : QStringLiteral("HH:mm:ss"));
}

QString GradingTable(GradingScheme scheme) {
    if (scheme == GradingScheme::DurabilityGrades)
        return QStringLiteral(
            "电通量耐久性等级（《混凝土耐久性检验评定标准》JGJ/T 193）：Qs≥4000 C 为Q-I，"
            "2000≤Qs<4000 C 为Q-II，1000≤Qs<2000 C 为Q-III，500≤Qs<1000 C 为Q-IV，"
            "Qs<500 C 为Q-V。");
    return QStringLiteral(
        "氯离子渗透性等级：Qs>4000 C 为高，2000≤Qs≤4000 C 为中，1000≤Qs<2000 C 为低，"
        "100≤Qs<1000 C 为很低，Qs<100 C 为可忽略。");
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
    QString own;
    for (QChar c : test.header.uid)
        if (c.isLetterOrNumber() && c.unicode() < 128 && own.size() < 8) own += c.toUpper();
    if (own.isEmpty()) own = QStringLiteral("%1").arg(test.id, 4, 10, QChar(u'0'));
    return QStringLiteral("DTL-%1-%2")
        .arg(TestDate(test).toString(QStringLiteral("yyyyMMdd")), own);
}

ReportContent MakeReportContent(const archive::ArchivedTest& test,
                                const std::vector<archive::PollRow>& polls,
                                const std::vector<archive::AuditRow>& audit, GradingScheme scheme,
                                const server::TestAccount& account, const QString& verifyBase) {
    const archive::TestHeader& h = test.header;
    ReportContent r;
    r.title = QStringLiteral("混凝土氯离子电通量试验报告");
    r.reportNumber = ReportNumber(test);
    r.verifyCode = server::VerificationCode(r.reportNumber, account);
    r.verifyUrl = server::VerifyUrl(verifyBase, r.reportNumber, r.verifyCode);
    if (!r.verifyUrl.isEmpty())
        r.verifyPage = QUrl(r.verifyUrl).adjusted(QUrl::RemoveQuery).toString();
    r.schemeName = GradingSchemeName(scheme);
    r.method = QStringLiteral(
        "《普通混凝土长期性能和耐久性能试验方法标准》GB/T 50082 中的电通量法：60 V直流电压，"
        "试验时间6 h，每组三个试件。");
    r.gradingTable = GradingTable(scheme);

    const std::optional<int> minutes = LastMinutes(test, polls);
    const QString minutesText = minutes ? QString::number(*minutes) : QStringLiteral("-");
    const QString ending = UnfinishedEnding(test);
    if (!ending.isEmpty()) {
        // The charges shown are the last record's, which may be older than the last reading.
        std::optional<int> recorded;
        for (auto it = test.records.rbegin(); it != test.records.rend() && !recorded; ++it)
            recorded = it->minutes;
        r.unfinished = QStringLiteral(
                           "未完成试验：%1，止于第 %2 min（设定 %3 min）。"
                           "以下电通量为%4记录的数值，不评定等级。")
                           .arg(ending, minutesText)
                           .arg(h.testMinutes)
                           .arg(recorded ? QStringLiteral("第 %1 min ").arg(*recorded)
                                         : QStringLiteral("最后一条"));
    } else if (!minutes || *minutes < kStandardMinutes)
        r.notes << QStringLiteral("本试验进行 %1 min；标准方法的试验时间为6 h（%2 min）。")
                       .arg(minutesText)
                       .arg(kStandardMinutes);
    const bool graded = r.unfinished.isEmpty();
    QString bench = h.portName;
    if (!h.portDevice.isEmpty()) bench += QStringLiteral("（%1）").arg(h.portDevice);
    r.fields = {
        {QStringLiteral("测试单位"), h.organisation},
        {QStringLiteral("测试人员"), h.tester},
        {QStringLiteral("试验日期"), TestDate(test).toString(QStringLiteral("yyyy-MM-dd"))},
        {QStringLiteral("开始时间"), h.startTime},
        {QStringLiteral("试验时长"),
         QStringLiteral("%1 min（设定 %2 min）").arg(minutesText).arg(h.testMinutes)},
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
    if (!results.diameterProblem.isEmpty()) r.notes << results.diameterProblem + u'。';
    const QString ungraded = QStringLiteral("不评定");
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        if (h.channelOff[slot] != 0) continue;
        const std::optional<ChargeResult>& q = results.channels[slot];
        // The channel's last reading that holds a number: a poll that missed it says nothing
        // about the current at the end.
        QString current;
        for (auto it = polls.rbegin(); it != polls.rend() && current.isEmpty(); ++it)
            current = ReadingNumber(it->current[slot]);
        for (auto it = test.records.rbegin(); it != test.records.rend() && current.isEmpty(); ++it)
            current = ReadingNumber(it->current[slot]);
        QString adjusted = q ? AdjustedChargeText(q->adjusted) : QStringLiteral("-");
        QString grade =
            q ? (graded ? GradeText(q->adjusted, scheme) : ungraded) : QStringLiteral("-");
        if (!results.invalid[slot].isEmpty()) {
            adjusted = QStringLiteral("无效");
            r.notes << QStringLiteral("通道%1无效：%2，不计入组值。")
                           .arg(slot + 1)
                           .arg(results.invalid[slot]);
        }
        r.channels.push_back({QString::number(slot + 1), h.specimenNo[slot],
                              ChargeWithoutUnit(charges[slot]), adjusted, grade,
                              current.isEmpty() ? QStringLiteral("-") : current});
    }
    for (int g = 0; g < kGroups; ++g) {
        const std::optional<GroupResult>& group = results.groups[g];
        if (!group) continue;
        QString value = AdjustedChargeText(group->value);
        if (group->rule == GroupRule::Incomplete) value += u'*';
        r.groups.push_back({GroupName(g), value,
                            graded ? GradeText(group->value, scheme) : ungraded,
                            GroupRuleText(*group)});
    }

    r.chart = CurrentSeriesOf(test, polls, kReportChartColumns);

    const qint64 start = h.startedAtMs;
    const std::vector<TestEvent> events = TestEvents(test, audit, polls);
    const std::optional<HighestTemperature> hot = HighestTemperatureOf(test, polls);
    // The times carry the date when the test runs across midnight.
    QDate first, last;
    auto see = [&](qint64 atMs) {
        if (atMs <= 0) return;
        const QDate date = QDateTime::fromMSecsSinceEpoch(atMs).date();
        if (!first.isValid() || date < first) first = date;
        if (!last.isValid() || date > last) last = date;
    };
    see(start);
    for (const TestEvent& e : events) see(e.atMs);
    if (!polls.empty()) see(polls.back().atMs);
    if (!test.records.empty()) see(test.records.back().atMs);
    const bool withDate = first != last;
    for (const TestEvent& e : events) {
        const qint64 elapsed = start > 0 ? std::max<qint64>(0, e.atMs - start) / 60000 : 0;
        r.events.push_back(
            {ClockTime(e.atMs, withDate), QStringLiteral("%1 min").arg(elapsed), e.text});
    }
    r.highestTemperature = hot ? QStringLiteral("%1 ℃（%2）")
                                     .arg(hot->celsius, 0, 'f', 1)
                                     .arg(ClockTime(hot->atMs, withDate))
                               : QStringLiteral("-");
    return r;
}
