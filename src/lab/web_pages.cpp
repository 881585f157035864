#include "lab/web_pages.h"

#include <QDateTime>

#include "lab/chart_svg.h"
#include "lab/html.h"

namespace lab {
namespace {

QString Cell(const QString& text) { return QStringLiteral("<td>%1</td>").arg(Html(text)); }

QString Table(const QStringList& headers, const QStringList& rowsHtml, bool wide = false) {
    QString html = wide ? QStringLiteral("<table class=\"wide\"><thead><tr>")
                        : QStringLiteral("<table><thead><tr>");
    for (const QString& h : headers) html += QStringLiteral("<th>%1</th>").arg(Html(h));
    html += QStringLiteral("</tr></thead><tbody>");
    for (const QString& row : rowsHtml) html += QStringLiteral("<tr>%1</tr>").arg(row);
    return html + QStringLiteral("</tbody></table>");
}

QString Input(const QString& label, const QString& name, const QString& value,
              const QString& type = QStringLiteral("text"), const QString& extra = {}) {
    // The label wraps its field: a screen reader names the field by it.
    return QStringLiteral("<label>%1<input type=\"%2\" name=\"%3\" value=\"%4\"%5></label>")
        .arg(Html(label), type, name, Html(value), extra);
}

QString GroupRows(const ReportContent& content, QStringList* rows) {
    for (const ReportContent::GroupRow& g : content.groups)
        *rows << Cell(g.name) + Cell(g.value) + Cell(g.grade) + Cell(g.rule);
    return content.schemeName;
}

}  // namespace

std::string LoginPage(const QString& error, const QString& next) {
    QString body;
    if (!error.isEmpty())
        body += QStringLiteral("<p class=\"error\" role=\"alert\">%1</p>").arg(Html(error));
    body +=
        QStringLiteral("<form class=\"stack\" method=\"post\" action=\"/login\">") +
        Input(QStringLiteral("用户名"), QStringLiteral("name"), {}, QStringLiteral("text"),
              QStringLiteral(" autocomplete=\"username\" required autofocus")) +
        Input(QStringLiteral("密码"), QStringLiteral("password"), {}, QStringLiteral("password"),
              QStringLiteral(" autocomplete=\"current-password\" required")) +
        QStringLiteral(
            "<input type=\"hidden\" name=\"next\" value=\"%1\">"
            "<button type=\"submit\">登录</button></form>"
            "<p><a href=\"/verify\">报告核验</a>（无需登录）</p>")
            .arg(Html(next));
    return PageHtml({QStringLiteral("登录"), {}, body});
}

std::string VerifyPage(const QString& number, const QString& code, const ReportCheck* check,
                       const QString& user) {
    QString body;
    if (check) {
        switch (check->verdict) {
            case ReportCheck::Verdict::Genuine: {
                body += QStringLiteral(
                    "<p class=\"verdict ok\" role=\"status\">真实有效</p>"
                    "<p>本实验室保存有这份报告的试验数据，报告编号与核验码一致。</p>");
                QStringList fields;
                fields << QStringLiteral("<th>报告编号</th>") + Cell(check->number);
                for (const ReportContent::Field& f : check->summary.fields)
                    if (f.label == QStringLiteral("试验日期") ||
                        f.label == QStringLiteral("测试单位") ||
                        f.label == QStringLiteral("测试人员") ||
                        f.label == QStringLiteral("评定标准"))
                        fields << QStringLiteral("<th>%1</th>").arg(Html(f.label)) + Cell(f.value);
                body += QStringLiteral("<table><tbody>");
                for (const QString& f : fields) body += QStringLiteral("<tr>%1</tr>").arg(f);
                body += QStringLiteral("</tbody></table>");
                if (!check->summary.unfinished.isEmpty())
                    body += QStringLiteral("<p class=\"error\">%1</p>")
                                .arg(Html(check->summary.unfinished));
                QStringList groups;
                GroupRows(check->summary, &groups);
                body += QStringLiteral("<h2>组值与评定</h2>");
                body += groups.isEmpty()
                            ? QStringLiteral("<p>无组值。</p>")
                            : Table({QStringLiteral("组别"), QStringLiteral("电通量(C)"),
                                     QStringLiteral("等级"), QStringLiteral("取值方法")},
                                    groups);
                break;
            }
            case ReportCheck::Verdict::NotFound:
                body += QStringLiteral(
                            "<p class=\"verdict none\" role=\"status\">未找到</p>"
                            "<p>本实验室没有编号为 <span class=\"code\">%1</span> 的报告。"
                            "请核对报告编号。</p>")
                            .arg(Html(number.trimmed()));
                break;
            case ReportCheck::Verdict::CodeMismatch:
                body += QStringLiteral(
                    "<p class=\"verdict bad\" role=\"status\">核验码不符</p>"
                    "<p>报告编号存在，但核验码与本实验室保存的试验数据不一致：请核对核验码；"
                    "若无误，这份报告的内容可能与实验室保存的数据不同。</p>");
                break;
        }
    }
    body +=
        QStringLiteral("<form class=\"stack\" method=\"get\" action=\"/verify\">") +
        Input(QStringLiteral("报告编号"), QStringLiteral("n"), number, QStringLiteral("text"),
              QStringLiteral(" placeholder=\"DTL-20261210-1A2B3C4D\" required")) +
        Input(QStringLiteral("核验码"), QStringLiteral("c"), code, QStringLiteral("text"),
              QStringLiteral(" placeholder=\"0000-0000-0000\" inputmode=\"numeric\" required")) +
        QStringLiteral("<button type=\"submit\">核验</button></form>");
    return PageHtml({QStringLiteral("报告核验"), user, body});
}

QString ListQueryString(const LabListQuery& q) {
    QStringList parts;
    auto add = [&](const char* name, const QString& value) {
        if (!value.isEmpty()) parts << QLatin1String(name) + u'=' + UrlPart(value);
    };
    add("from", q.from.isValid() ? q.from.toString(Qt::ISODate) : QString());
    add("to", q.to.isValid() ? q.to.toString(Qt::ISODate) : QString());
    add("bench", q.bench);
    add("tester", q.tester);
    add("org", q.organisation);
    add("specimen", q.specimen);
    return parts.join(u'&');
}

std::string TestListPage(const LabListQuery& q, const LabTestList& list,
                         const std::vector<QString>& benches, const QString& user) {
    QString body = QStringLiteral("<form class=\"search\" method=\"get\" action=\"/tests\">");
    body +=
        Input(QStringLiteral("开始日期 自"), QStringLiteral("from"),
              q.from.isValid() ? q.from.toString(Qt::ISODate) : QString(), QStringLiteral("date"));
    body += Input(QStringLiteral("至"), QStringLiteral("to"),
                  q.to.isValid() ? q.to.toString(Qt::ISODate) : QString(), QStringLiteral("date"));
    body += QStringLiteral("<label>实验台<select name=\"bench\"><option value=\"\">全部</option>");
    for (const QString& b : benches)
        body += QStringLiteral("<option value=\"%1\"%2>%1</option>")
                    .arg(Html(b), b == q.bench ? QStringLiteral(" selected") : QString());
    body += QStringLiteral("</select></label>");
    body += Input(QStringLiteral("测试人"), QStringLiteral("tester"), q.tester);
    body += Input(QStringLiteral("测试单位"), QStringLiteral("org"), q.organisation);
    body += Input(QStringLiteral("试件编号"), QStringLiteral("specimen"), q.specimen);
    body += QStringLiteral("<button type=\"submit\">查询</button></form>");

    QStringList rows;
    for (const LabListRow& t : list.rows)
        rows << QStringLiteral("<td><a href=\"/tests/%1\">%2 %3</a></td>")
                        .arg(UrlPart(t.uid), Html(t.testDate), Html(t.startTime)) +
                    Cell(t.bench) + Cell(t.tester) + Cell(t.organisation) +
                    Cell(QString::number(t.testMinutes)) + Cell(QString::number(t.recordCount)) +
                    Cell(t.state);
    body += rows.isEmpty()
                ? QStringLiteral("<p>没有符合条件的实验。</p>")
                : Table({QStringLiteral("开始"), QStringLiteral("实验台"), QStringLiteral("测试人"),
                         QStringLiteral("测试单位"), QStringLiteral("实验时间(min)"),
                         QStringLiteral("记录数"), QStringLiteral("状态")},
                        rows, true);
    const QString filters = ListQueryString(q);
    body += QStringLiteral("<div class=\"pages\">");
    if (q.after)
        body += QStringLiteral("<a href=\"/tests%1\">最新的实验</a>")
                    .arg(Html(filters.isEmpty() ? QString() : u'?' + filters));
    if (list.more && !list.rows.empty()) {
        const LabListRow& last = list.rows.back();
        const QString after = QString::number(last.startedAtMs) + u'.' + last.uid;
        body += QStringLiteral("<a href=\"/tests?%1after=%2\">更早的实验</a>")
                    .arg(Html(filters.isEmpty() ? QString() : filters + u'&'), UrlPart(after));
    }
    body += QStringLiteral("</div>");
    return PageHtml({QStringLiteral("实验"), user, body});
}

std::string TestPage(const LabTest& t, const QString& user) {
    const ReportContent& c = t.content;
    QString body;
    if (!c.unfinished.isEmpty())
        body += QStringLiteral("<p class=\"error\">%1</p>").arg(Html(c.unfinished));
    QStringList fields;
    fields << QStringLiteral("<th>报告编号</th>") + Cell(c.reportNumber);
    if (!t.verifyCode.isEmpty())
        fields
            << QStringLiteral("<th>核验码</th><td class=\"code\">%1</td>").arg(Html(t.verifyCode));
    fields << QStringLiteral("<th>实验台</th>") + Cell(t.bench);
    for (const ReportContent::Field& f : c.fields)
        fields << QStringLiteral("<th>%1</th>").arg(Html(f.label)) + Cell(f.value);
    fields << QStringLiteral("<th>最高温度</th>") + Cell(c.highestTemperature);
    body += QStringLiteral("<h2>试验参数</h2><table><tbody>");
    for (const QString& f : fields) body += QStringLiteral("<tr>%1</tr>").arg(f);
    body += QStringLiteral("</tbody></table>");
    for (const QString& note : c.notes) body += QStringLiteral("<p>%1</p>").arg(Html(note));

    QStringList channels;
    for (const ReportContent::ChannelRow& ch : c.channels)
        channels << Cell(ch.channel) + Cell(ch.specimenNo) + Cell(ch.charge) + Cell(ch.adjusted) +
                        Cell(ch.grade) + Cell(ch.finalCurrent);
    body += QStringLiteral("<h2>通道</h2>") +
            Table({QStringLiteral("通道"), QStringLiteral("试件编号"), QStringLiteral("电通量(C)"),
                   QStringLiteral("换算电通量Qs(C)"), c.schemeName, QStringLiteral("终了电流(mA)")},
                  channels, true);
    QStringList groups;
    GroupRows(c, &groups);
    body += QStringLiteral("<h2>组值与评定</h2>") +
            (groups.isEmpty() ? QStringLiteral("<p>无组值。</p>")
                              : Table({QStringLiteral("组别"), QStringLiteral("电通量(C)"),
                                       QStringLiteral("等级"), QStringLiteral("取值方法")},
                                      groups));
    body += QStringLiteral("<h2>电流趋势</h2>") + ChartSvg(c.chart);
    QStringList events;
    for (const ReportContent::EventRow& e : c.events)
        events << Cell(e.time) + Cell(e.elapsed) + Cell(e.text);
    body += QStringLiteral("<h2>事件</h2>") +
            Table({QStringLiteral("时间"), QStringLiteral("历时"), QStringLiteral("事件")}, events,
                  true);
    const QString uid = UrlPart(t.test.header.uid);
    body +=
        QStringLiteral(
            "<h2>下载</h2><p class=\"pages\"><a href=\"/tests/%1/report.pdf\">试验报告（PDF）</a>"
            "<a href=\"/tests/%1/polls.csv\">轮询数据（CSV）</a></p>")
            .arg(uid);
    return PageHtml({c.title.isEmpty() ? QStringLiteral("实验") : c.title, user, body});
}

}  // namespace lab
