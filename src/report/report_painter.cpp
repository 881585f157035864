#include "report/report_painter.h"

#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "platform/song_font.h"
#include "report/report_content.h"

namespace {

// Everything is laid out in tenths of a millimetre on the 210 × 297 mm page.
constexpr int kPageWidth = 2100, kPageHeight = 2970;
constexpr int kLeft = 200, kRight = kPageWidth - 200, kTop = 160, kBottom = kPageHeight - 160;
constexpr int kWidth = kRight - kLeft;
// Text heights: 3.5 mm body, 3 mm small, 6.5 mm title.
constexpr int kBody = 35, kSmall = 30, kTitle = 65;

const std::array<QColor, archive::kChannels> kChannelColours = {
    QColor(200, 30, 30), QColor(30, 90, 200),  QColor(20, 140, 60),
    QColor(200, 120, 0), QColor(130, 40, 170), QColor(0, 140, 150)};

QFont Font(int size, bool bold = false) { return songFont(size, bold ? 700 : 400); }

// One row of cells across `widths` (tenths of a millimetre), framed, the texts centred (or
// left-aligned where `left` says).
void Row(QPainter& p, int y, int height, const std::vector<int>& widths, const QStringList& texts,
         const std::vector<bool>& left = {}) {
    int x = kLeft;
    for (size_t i = 0; i < widths.size(); ++i) {
        const QRect cell(x, y, widths[i], height);
        p.drawRect(cell);
        const bool alignLeft = i < left.size() && left[i];
        p.drawText(cell.adjusted(alignLeft ? 15 : 4, 0, -4, 0),
                   (alignLeft ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter,
                   texts.value(int(i)));
        x += widths[i];
    }
}

void PageNumber(QPainter& p, int page) {
    p.setFont(Font(kSmall));
    p.drawText(QRect(kLeft, kBottom - 50, kWidth, 50), Qt::AlignCenter,
               QStringLiteral("第 %1 页 共 %2 页").arg(page).arg(kReportPages));
}

void Heading(QPainter& p, int y, const QString& text) {
    p.setFont(Font(kBody, true));
    p.drawText(QRect(kLeft, y, kWidth, 55), Qt::AlignLeft | Qt::AlignVCenter, text);
    p.setFont(Font(kBody));
}

// A round step for an axis running up to `top`: 1, 2 or 5 times a power of ten.
double AxisStep(double top, int ticks) {
    const double raw = std::max(top, 1e-9) / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

QString AxisNumber(double value) { return QString::number(value, 'g', 6); }

int Chart(QPainter& p, int y, const ReportContent& c) {
    Heading(p, y, QStringLiteral("各通道电流随时间变化"));
    y += 60;
    const QRect frame(kLeft + 110, y + 20, kWidth - 130, 720);
    const double xStep = AxisStep(c.chart.lastMinute, 6);
    const double yStep = AxisStep(c.chart.highestCurrent, 5);
    const double xTop = std::max(xStep, std::ceil(c.chart.lastMinute / xStep) * xStep);
    const double yTop = std::max(yStep, std::ceil(c.chart.highestCurrent / yStep) * yStep);
    auto toPoint = [&](const QPointF& v) {
        return QPointF(frame.left() + v.x() / xTop * frame.width(),
                       frame.bottom() - v.y() / yTop * frame.height());
    };

    p.setFont(Font(kSmall));
    p.setPen(QPen(QColor(200, 200, 200), 2));
    for (double v = 0; v <= yTop + yStep / 2; v += yStep) {
        const double py = toPoint({0, v}).y();
        p.drawLine(QPointF(frame.left(), py), QPointF(frame.right(), py));
    }
    for (double v = 0; v <= xTop + xStep / 2; v += xStep) {
        const double px = toPoint({v, 0}).x();
        p.drawLine(QPointF(px, frame.top()), QPointF(px, frame.bottom()));
    }
    p.setPen(QPen(Qt::black, 3));
    p.drawRect(frame);
    for (double v = 0; v <= yTop + yStep / 2; v += yStep) {
        const double py = toPoint({0, v}).y();
        p.drawText(QRectF(kLeft - 10, py - 20, 110, 40), Qt::AlignRight | Qt::AlignVCenter,
                   AxisNumber(v));
    }
    for (double v = 0; v <= xTop + xStep / 2; v += xStep) {
        const double px = toPoint({v, 0}).x();
        p.drawText(QRectF(px - 80, frame.bottom() + 8, 160, 36), Qt::AlignCenter, AxisNumber(v));
    }
    p.drawText(QRect(kLeft, frame.top() - 72, 400, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("电流(mA)"));
    p.drawText(QRect(frame.right() - 400, frame.bottom() + 44, 400, 40),
               Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("时间(min)"));

    p.save();
    p.setClipRect(frame.adjusted(-2, -2, 2, 2));
    p.setRenderHint(QPainter::Antialiasing);
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        const std::vector<QPointF>& points = c.chart.channels[slot];
        if (points.empty()) continue;
        QPainterPath path(toPoint(points.front()));
        for (size_t i = 1; i < points.size(); ++i) path.lineTo(toPoint(points[i]));
        p.setPen(QPen(kChannelColours[slot], 4));
        p.drawPath(path);
    }
    p.restore();

    // The legend: one entry per channel shown.
    int lx = frame.left();
    const int ly = frame.bottom() + 95;
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        if (c.chart.channels[slot].empty()) continue;
        p.setPen(QPen(kChannelColours[slot], 8));
        p.drawLine(lx, ly + 20, lx + 60, ly + 20);
        p.setPen(Qt::black);
        p.drawText(QRect(lx + 70, ly, 150, 40), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("通道%1").arg(slot + 1));
        lx += 240;
    }
    p.setPen(QPen(Qt::black, 3));
    return ly + 50;
}

void FirstPage(QPainter& p, const ReportContent& c) {
    p.setFont(Font(kTitle, true));
    p.drawText(QRect(kLeft, kTop, kWidth, 90), Qt::AlignCenter, c.title);
    p.setFont(Font(kBody));
    int y = kTop + 110;
    p.drawText(QRect(kLeft, y, kWidth, 45), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("报告编号：%1").arg(c.reportNumber));
    y += 55;

    // The particulars, two to a row.
    const std::vector<int> fieldWidths = {230, 620, 230, 620};
    for (size_t i = 0; i < c.fields.size(); i += 2) {
        QStringList texts = {c.fields[i].label, c.fields[i].value};
        if (i + 1 < c.fields.size()) texts << c.fields[i + 1].label << c.fields[i + 1].value;
        Row(p, y, 60, fieldWidths, texts, {false, true, false, true});
        y += 60;
    }
    y += 25;

    Heading(p, y, QStringLiteral("各试件结果（换算为直径95mm试件）"));
    y += 60;
    const std::vector<int> channelWidths = {180, 300, 300, 330, 290, 300};
    Row(p, y, 60, channelWidths,
        {QStringLiteral("通道"), QStringLiteral("试件编号"), QStringLiteral("电通量Q(C)"),
         QStringLiteral("换算电通量Qs(C)"), QStringLiteral("等级"),
         QStringLiteral("最终电流(mA)")});
    y += 60;
    for (const ReportContent::ChannelRow& row : c.channels) {
        Row(p, y, 55, channelWidths,
            {row.channel, row.specimenNo, row.charge, row.adjusted, row.grade, row.finalCurrent});
        y += 55;
    }
    if (c.channels.empty()) {
        Row(p, y, 55, {kWidth}, {QStringLiteral("没有使用中的通道")});
        y += 55;
    }
    y += 25;

    Heading(p, y, QStringLiteral("组值（每组三个试件）"));
    y += 60;
    const std::vector<int> groupWidths = {330, 270, 230, 870};
    Row(p, y, 60, groupWidths,
        {QStringLiteral("组别"), QStringLiteral("组值Qs(C)"), QStringLiteral("等级"),
         QStringLiteral("取值方法")});
    y += 60;
    for (const ReportContent::GroupRow& row : c.groups) {
        Row(p, y, 55, groupWidths, {row.name, row.value, row.grade, row.rule},
            {false, false, false, true});
        y += 55;
    }
    if (c.groups.empty()) {
        Row(p, y, 55, {kWidth}, {QStringLiteral("没有可计算的组值")});
        y += 55;
    }
    p.setFont(Font(kSmall));
    p.drawText(QRect(kLeft, y + 5, kWidth, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("等级按%1评定；带*的组值不足三个试件，取已有试件的平均值。")
                   .arg(c.schemeName));
    y += 70;

    Chart(p, y, c);
    PageNumber(p, 1);
}

void SecondPage(QPainter& p, const ReportContent& c) {
    int y = kTop;
    p.setFont(Font(kBody));
    p.drawText(QRect(kLeft, y, kWidth, 45), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("报告编号：%1").arg(c.reportNumber));
    y += 55;
    Heading(p, y, QStringLiteral("试验过程"));
    y += 60;
    const std::vector<int> widths = {260, 260, 1180};
    Row(p, y, 60, widths,
        {QStringLiteral("时间"), QStringLiteral("开始后"), QStringLiteral("事件")});
    y += 60;
    // Room for the rows down to the notes; the rest is counted, not listed.
    constexpr int kRowHeight = 52;
    const int room = (1900 - y) / kRowHeight;
    const int listed = int(c.events.size()) <= room ? int(c.events.size()) : room - 1;
    for (int i = 0; i < listed; ++i) {
        const ReportContent::EventRow& e = c.events[size_t(i)];
        Row(p, y, kRowHeight, widths, {e.time, e.elapsed, e.text}, {false, false, true});
        y += kRowHeight;
    }
    if (listed < int(c.events.size())) {
        Row(p, y, kRowHeight, {kWidth},
            {QStringLiteral("……另有 %1 项，见导出的CSV文件").arg(int(c.events.size()) - listed)});
        y += kRowHeight;
    }
    y += 20;
    p.drawText(QRect(kLeft, y, kWidth, 50), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("试验中最高温度：%1").arg(c.highestTemperature));
    y += 80;

    Heading(p, y, QStringLiteral("说明"));
    y += 60;
    p.setFont(Font(kSmall));
    const QString notes =
        QStringLiteral(
            "1. 换算电通量Qs = Q × (95 / d)²，d为试件直径(mm)，四舍五入取整。\n"
            "2. 每组三个试件（通道1–3、4–6）：取三个Qs的平均值；其中一个与中间值相差超过中间值的15%"
            "时，取其余两个的平均值；两个与中间值相差均超过15%时，取中间值。组值四舍五入取整。\n"
            "3. 等级按%1评定。")
            .arg(c.schemeName);
    const QRect noteBox(kLeft, y, kWidth, 300);
    p.drawText(noteBox, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, notes);

    // The signatures at the foot of the page.
    p.setFont(Font(kBody));
    const int sy = kBottom - 260;
    const int column = kWidth / 3;
    const QStringList roles = {QStringLiteral("试验："), QStringLiteral("审核："),
                               QStringLiteral("批准：")};
    for (int i = 0; i < 3; ++i) {
        const int x = kLeft + i * column;
        p.drawText(QRect(x, sy, 130, 50), Qt::AlignLeft | Qt::AlignBottom, roles[i]);
        p.drawLine(x + 130, sy + 50, x + column - 60, sy + 50);
        p.drawText(QRect(x, sy + 90, 130, 50), Qt::AlignLeft | Qt::AlignBottom,
                   QStringLiteral("日期："));
        p.drawLine(x + 130, sy + 140, x + column - 60, sy + 140);
    }
    PageNumber(p, 2);
}

}  // namespace

bool PaintTestReport(QPagedPaintDevice& device, const ReportContent& content) {
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    QPainter p;
    if (!p.begin(&device)) return false;
    // Tenths of a millimetre, whatever the device's resolution.
    const double scale = device.logicalDpiX() / 254.0;
    p.scale(scale, scale);
    p.setPen(QPen(Qt::black, 3));
    FirstPage(p, content);
    device.newPage();
    SecondPage(p, content);
    return p.end();
}
