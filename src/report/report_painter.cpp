#include "report/report_painter.h"

#include <QImage>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <functional>

#include "platform/song_font.h"
#include "report/qr_symbol.h"
#include "report/report_content.h"

namespace {

// Everything is laid out in tenths of a millimetre on the 210 × 297 mm page.
constexpr int kPageWidth = 2100, kPageHeight = 2970;
constexpr int kLeft = 200, kRight = kPageWidth - 200, kTop = 160, kBottom = kPageHeight - 160;
constexpr int kWidth = kRight - kLeft;
// The page number sits below this line; nothing else does.
constexpr int kContentBottom = kBottom - 70;
// Text heights: 3.5 mm body, 3 mm small, 6.5 mm title.
constexpr int kBody = 35, kSmall = 30, kTitle = 65;
// The padding of a cell's text, across and down.
constexpr int kPadX = 15, kPadY = 10;
// The QR code's side without its quiet zone: 22 mm, which a phone reads from a printed page.
constexpr int kQrSize = 220;

const std::array<QColor, archive::kChannels> kChannelColours = {
    QColor(200, 30, 30), QColor(30, 90, 200),  QColor(20, 140, 60),
    QColor(200, 120, 0), QColor(130, 40, 170), QColor(0, 140, 150)};

// Unhinted, so that the texts measure alike on every device and the pages counted are the
// pages painted.
QFont Font(int size, bool bold = false) {
    QFont font = songFont(size, bold ? 700 : 400);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

constexpr int kWrap = int(Qt::TextWordWrap) | int(Qt::TextWrapAnywhere);

// Aligned as `alignment` says, wrapped anywhere a line must break (a cell's specimen number
// may have no blank to break at).
int Wrapped(Qt::Alignment alignment) { return int(alignment) | kWrap; }

// A paragraph's: wrapped between words, and between any two Chinese characters.
int Flowing(Qt::Alignment alignment) { return int(alignment) | int(Qt::TextWordWrap); }

// The report laid out from top to bottom, page after page. It runs twice: once to count the
// pages (nothing painted, the texts only measured), then to paint them.
class Sheet {
  public:
    Sheet(QPainter& p, QPagedPaintDevice* device, const ReportContent& c, int pages)
        : m_p(p),
          m_device(device),
          m_c(c),
          m_qr(c.verifyUrl.isEmpty() ? QrSymbol{} : EncodeQr(c.verifyUrl)),
          m_pages(pages) {}

    int page() const { return m_page; }

    void firstPage() {
        m_y = kTop;
        if (painting()) {
            m_p.setFont(Font(kTitle, true));
            m_p.drawText(QRect(kLeft, m_y, kWidth, 90), Qt::AlignCenter, m_c.title);
        }
        m_y += 110;
        pageHead();
    }

    // Room for `height` below, else the next page.
    void need(int height) {
        if (m_y + height > kContentBottom) nextPage();
    }

    void nextPage() {
        pageFoot();
        if (painting()) m_device->newPage();
        ++m_page;
        m_y = kTop;
        pageHead();
    }

    void finish() { pageFoot(); }

    void gap(int height) { m_y += height; }

    void heading(const QString& text, int keepWith) {
        need(60 + keepWith);
        m_p.setFont(Font(kBody, true));
        if (painting())
            m_p.drawText(QRect(kLeft, m_y, kWidth, 55), Qt::AlignLeft | Qt::AlignVCenter, text);
        m_p.setFont(Font(kBody));
        m_y += 60;
    }

    // The height a row takes: its tallest cell's wrapped text, at least `least`.
    int rowHeight(const std::vector<int>& widths, const QStringList& texts, int least) {
        int height = least;
        for (size_t i = 0; i < widths.size(); ++i) {
            const QRect room(0, 0, widths[i] - 2 * kPadX, 100000);
            const QRect used = m_p.boundingRect(room, kWrap, texts.value(int(i)));
            height = std::max(height, used.height() + 2 * kPadY);
        }
        return height;
    }

    // One row of framed cells across `widths`, the texts centred (or left-aligned where
    // `left` says) and wrapped inside their cells. On the next page, `header` first when
    // the row does not fit.
    void row(const std::vector<int>& widths, const QStringList& texts, int least,
             const std::vector<bool>& left = {}, const std::function<void()>& header = {}) {
        const int height = rowHeight(widths, texts, least);
        if (m_y + height > kContentBottom) {
            nextPage();
            if (header) header();
        }
        if (painting()) {
            int x = kLeft;
            for (size_t i = 0; i < widths.size(); ++i) {
                const QRect cell(x, m_y, widths[i], height);
                m_p.drawRect(cell);
                const bool alignLeft = i < left.size() && left[i];
                m_p.drawText(
                    cell.adjusted(kPadX, kPadY, -kPadX, -kPadY),
                    Wrapped((alignLeft ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter),
                    texts.value(int(i)));
                x += widths[i];
            }
        }
        m_y += height;
    }

    // A paragraph across the page, wrapped.
    void paragraph(const QString& text, int size, bool bold = false) {
        m_p.setFont(Font(size, bold));
        const QRect used =
            m_p.boundingRect(QRect(kLeft, 0, kWidth, 100000), Flowing(Qt::AlignLeft), text);
        need(used.height() + 10);
        if (painting())
            m_p.drawText(QRect(kLeft, m_y, kWidth, used.height() + 10),
                         Flowing(Qt::AlignLeft | Qt::AlignTop), text);
        m_y += used.height() + 10;
        m_p.setFont(Font(kBody));
    }

    void chart(const QString& title);
    void signatures();

  private:
    bool painting() const { return m_device != nullptr; }

    // Text right-aligned in `room`, as tall as it wraps to (at least the room's height); the
    // height it takes.
    int textBlock(const QRect& room, const QString& text) {
        const QRect used = m_p.boundingRect(QRect(room.left(), room.top(), room.width(), 100000),
                                            Wrapped(Qt::AlignRight), text);
        const QRect box(room.left(), room.top(), room.width(),
                        std::max(room.height(), used.height()));
        if (painting()) m_p.drawText(box, Wrapped(Qt::AlignRight | Qt::AlignVCenter), text);
        return box.height();
    }

    // The report's check, then the mark of an unfinished test framed below it. The check is the
    // report number and its code, on the right; with a verify address, the QR code of that
    // address in the page's top right corner (its quiet zone clear of any mark) and the
    // numbers, with where to verify, beside it.
    void pageHead() {
        m_p.setFont(Font(kBody));
        QString check = QStringLiteral("报告编号：%1").arg(m_c.reportNumber);
        if (!m_c.verifyCode.isEmpty()) check += QStringLiteral("  核验码：%1").arg(m_c.verifyCode);
        if (m_qr.empty()) {
            m_y += textBlock(QRect(kLeft, m_y, kWidth, 45), check) + 10;
        } else {
            const QRect symbol(kRight - kQrSize, kTop, kQrSize, kQrSize);
            const int quiet = int(std::ceil(double(kQrQuietModules) * kQrSize / m_qr.width));
            const int right = symbol.left() - quiet - 10;
            int y = m_y + textBlock(QRect(kLeft, m_y, right - kLeft, 45), check) + 5;
            m_p.setFont(Font(kSmall));
            y += textBlock(QRect(kLeft, y, right - kLeft, 40),
                           QStringLiteral("扫码或访问 %1 核验报告").arg(m_c.verifyPage));
            m_p.setFont(Font(kBody));
            if (painting()) PaintQr(m_p, symbol, m_qr);
            m_y = std::max(y, symbol.bottom() + 1 + quiet) + 15;
        }
        if (m_c.unfinished.isEmpty()) return;
        m_p.setFont(Font(kBody, true));
        const QRect used = m_p.boundingRect(QRect(0, 0, kWidth - 2 * kPadX, 100000),
                                            Flowing(Qt::AlignLeft), m_c.unfinished);
        const QRect box(kLeft, m_y, kWidth, used.height() + 2 * kPadY);
        if (painting()) {
            m_p.save();
            m_p.setPen(QPen(QColor(190, 0, 0), 6));
            m_p.drawRect(box);
            m_p.setPen(QColor(190, 0, 0));
            m_p.drawText(box.adjusted(kPadX, kPadY, -kPadX, -kPadY),
                         Flowing(Qt::AlignLeft | Qt::AlignVCenter), m_c.unfinished);
            m_p.restore();
        }
        m_p.setFont(Font(kBody));
        m_y += box.height() + 25;
    }

    void pageFoot() {
        if (!painting()) return;
        m_p.setFont(Font(kSmall));
        m_p.drawText(QRect(kLeft, kBottom - 50, kWidth, 50), Qt::AlignCenter,
                     QStringLiteral("第 %1 页 共 %2 页").arg(m_page).arg(m_pages));
        m_p.setFont(Font(kBody));
    }

    QPainter& m_p;
    QPagedPaintDevice* m_device;  // null while counting
    const ReportContent& m_c;
    QrSymbol m_qr;  // of the verify address; empty without one
    int m_pages;
    int m_page = 1;
    int m_y = kTop;
};

// A round step for an axis running up to `top`: 1, 2 or 5 times a power of ten.
double AxisStep(double top, int ticks) {
    const double raw = std::max(top, 1e-9) / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

QString AxisNumber(double value) { return QString::number(value, 'g', 6); }

constexpr int kChartHeight = 720;

void Sheet::chart(const QString& title) {
    heading(title, kChartHeight + 190);
    const int y = m_y;
    m_y += kChartHeight + 190;
    if (!painting()) return;
    QPainter& p = m_p;
    const ReportContent& c = m_c;
    const QRect frame(kLeft + 110, y + 20, kWidth - 130, kChartHeight);
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
    p.setFont(Font(kBody));
}

void Sheet::signatures() {
    constexpr int kHeight = 200;
    need(kHeight);
    const int sy = std::max(m_y, kContentBottom - kHeight);
    m_y = sy + kHeight;
    if (!painting()) return;
    m_p.setFont(Font(kBody));
    const int column = kWidth / 3;
    const QStringList roles = {QStringLiteral("试验："), QStringLiteral("审核："),
                               QStringLiteral("批准：")};
    for (int i = 0; i < 3; ++i) {
        const int x = kLeft + i * column;
        m_p.drawText(QRect(x, sy, 130, 50), Qt::AlignLeft | Qt::AlignBottom, roles[i]);
        m_p.drawLine(x + 130, sy + 50, x + column - 60, sy + 50);
        m_p.drawText(QRect(x, sy + 90, 130, 50), Qt::AlignLeft | Qt::AlignBottom,
                     QStringLiteral("日期："));
        m_p.drawLine(x + 130, sy + 140, x + column - 60, sy + 140);
    }
}

void Lay(Sheet& s, const ReportContent& c) {
    s.firstPage();

    // The particulars, two to a row.
    const std::vector<int> fieldWidths = {230, 620, 230, 620};
    for (size_t i = 0; i < c.fields.size(); i += 2) {
        QStringList texts = {c.fields[i].label, c.fields[i].value};
        if (i + 1 < c.fields.size()) texts << c.fields[i + 1].label << c.fields[i + 1].value;
        s.row(fieldWidths, texts, 60, {false, true, false, true});
    }
    s.gap(25);

    s.heading(QStringLiteral("各试件结果（换算为直径95mm试件）"), 120);
    const std::vector<int> channelWidths = {180, 300, 300, 330, 290, 300};
    const QStringList channelHead = {
        QStringLiteral("通道"),       QStringLiteral("试件编号"),
        QStringLiteral("电通量Q(C)"), QStringLiteral("换算电通量Qs(C)"),
        QStringLiteral("等级"),       QStringLiteral("最终电流(mA)")};
    auto channelHeader = [&] { s.row(channelWidths, channelHead, 60); };
    channelHeader();
    for (const ReportContent::ChannelRow& row : c.channels)
        s.row(channelWidths,
              {row.channel, row.specimenNo, row.charge, row.adjusted, row.grade, row.finalCurrent},
              55, {}, channelHeader);
    if (c.channels.empty()) s.row({kWidth}, {QStringLiteral("没有使用中的通道")}, 55);
    s.gap(25);

    s.heading(QStringLiteral("组值（每组三个试件）"), 120);
    const std::vector<int> groupWidths = {330, 270, 230, 870};
    const QStringList groupHead = {QStringLiteral("组别"), QStringLiteral("组值Qs(C)"),
                                   QStringLiteral("等级"), QStringLiteral("取值方法")};
    s.row(groupWidths, groupHead, 60);
    for (const ReportContent::GroupRow& row : c.groups)
        s.row(groupWidths, {row.name, row.value, row.grade, row.rule}, 55,
              {false, false, false, true});
    if (c.groups.empty()) s.row({kWidth}, {QStringLiteral("没有可计算的组值")}, 55);
    s.gap(10);
    s.paragraph(
        c.unfinished.isEmpty()
            ? QStringLiteral("等级按%1评定；带*的组值不足三个有效试件，取已有试件的平均值。")
                  .arg(c.schemeName)
            : QStringLiteral("带*的组值不足三个有效试件，取已有试件的平均值。"),
        kSmall);
    for (const QString& note : c.notes) s.paragraph(QStringLiteral("注：") + note, kSmall, true);
    s.gap(20);

    s.chart(QStringLiteral("各通道电流随时间变化"));

    // What happened, from the page after the chart.
    s.nextPage();
    s.heading(QStringLiteral("试验过程"), 120);
    const std::vector<int> widths = {400, 200, 1100};
    const QStringList eventHead = {QStringLiteral("时间"), QStringLiteral("开始后"),
                                   QStringLiteral("事件")};
    auto eventHeader = [&] { s.row(widths, eventHead, 60); };
    eventHeader();
    for (const ReportContent::EventRow& e : c.events)
        s.row(widths, {e.time, e.elapsed, e.text}, 52, {false, false, true}, eventHeader);
    if (c.events.empty()) s.row({kWidth}, {QStringLiteral("没有记录的事件")}, 52);
    s.gap(20);
    s.paragraph(QStringLiteral("试验中最高温度：%1").arg(c.highestTemperature), kBody);
    s.gap(30);

    s.heading(QStringLiteral("说明"), 100);
    s.paragraph(QStringLiteral("1. 试验方法：%1").arg(c.method), kSmall);
    s.paragraph(QStringLiteral("2. 换算电通量Qs = Q × (95 / d)²，d为试件直径(mm)，四舍五入取整。"),
                kSmall);
    s.paragraph(
        QStringLiteral("3. 每组三个试件（通道1–3、4–6）：取三个Qs的平均值；其中一个与中间值相差超过"
                       "中间值的15%时，取其余两个的平均值；两个与中间值相差均超过15%时，取中间值。"
                       "组值四舍五入取整。电通量不大于0的试件无效，不计入组值。"),
        kSmall);
    s.paragraph(QStringLiteral("4. 评定表：%1").arg(c.gradingTable), kSmall);
    s.gap(40);
    s.signatures();
    s.finish();
}

void Prepare(QPainter& p, QPaintDevice& device) {
    // Tenths of a millimetre, whatever the device's resolution.
    const double scale = device.logicalDpiX() / 254.0;
    p.scale(scale, scale);
    p.setPen(QPen(Qt::black, 3));
    p.setFont(Font(kBody));
}

// The pages, laid out on a device of the report's own resolution without painting.
int CountPages(const ReportContent& content, int dpi) {
    QImage probe(8, 8, QImage::Format_Mono);
    probe.setDotsPerMeterX(qRound(dpi / 0.0254));
    probe.setDotsPerMeterY(qRound(dpi / 0.0254));
    QPainter p(&probe);
    Prepare(p, probe);
    Sheet counting(p, nullptr, content, 0);
    Lay(counting, content);
    return counting.page();
}

}  // namespace

int TestReportPageCount(const ReportContent& content) { return CountPages(content, 254); }

bool PaintTestReport(QPagedPaintDevice& device, const ReportContent& content) {
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    const int pages = CountPages(content, device.logicalDpiX());
    QPainter p;
    if (!p.begin(&device)) return false;
    Prepare(p, device);
    Sheet sheet(p, &device, content, pages);
    Lay(sheet, content);
    return p.end();
}
