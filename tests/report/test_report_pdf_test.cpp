// The test report's PDF as a lab reads it (pdftotext, pdfinfo) and a client scans it (pdftoppm,
// zbarimg): an unfinished test marked on every page and left ungraded, every event listed
// however many there are, long texts inside their cells, the figures of the channels and groups
// as the results have them, the report's number, code and QR code on every page.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>

#include "report/qr_symbol.h"
#include "report/report_content.h"
#include "report/report_output.h"
#include "report/report_painter.h"
#include "server/verification_code.h"

namespace {

using archive::TestState;

const qint64 kStart = QDateTime(QDate(2026, 12, 8), QTime(8, 30, 0)).toMSecsSinceEpoch();

// A test on 100 mm specimens with records every five minutes up to `minutes`, the charges
// of the last record `charges`, and a poll beside each record.
struct Made {
    archive::ArchivedTest test;
    std::vector<archive::PollRow> polls;
    std::vector<archive::AuditRow> audit;
};

Made MakeTest(int minutes, const std::array<QString, 6>& charges) {
    Made m;
    archive::TestHeader& h = m.test.header;
    h.uid = QStringLiteral("3f2a9c1d-0000-4000-8000-000000000001");
    h.testDate = QStringLiteral("2026-12-8");
    h.startTime = QStringLiteral("08:30:00");
    h.startedAtMs = kStart;
    h.user = QStringLiteral("王建国");
    h.voltage = QStringLiteral("60");
    h.testMinutes = 360;
    h.diameter = 100;
    h.tester = QStringLiteral("王建国");
    h.organisation = QStringLiteral("市建设工程质量检测中心");
    for (int i = 0; i < 6; ++i) h.specimenNo[i] = QStringLiteral("C30-%1").arg(i + 1);
    m.test.id = 7;
    for (int minute = 0; minute <= minutes; minute += 5) {
        archive::RecordRow r;
        r.number = int(m.test.records.size()) + 1;
        r.minutes = minute;
        r.atMs = kStart + minute * 60000;
        r.temperature = QStringLiteral("25.0");
        for (int c = 0; c < 6; ++c) {
            r.current[c] = QStringLiteral("%1(mA)").arg(50 + c + minute / 10.0, 0, 'f', 2);
            r.charge[c] = minute == minutes ? charges[c] : QStringLiteral("10.0(C)");
        }
        m.test.records.push_back(r);
        archive::PollRow p;
        p.atMs = r.atMs;
        p.minutes = r.minutes;
        p.temperature = r.temperature;
        p.current = r.current;
        p.charge = r.charge;
        m.polls.push_back(p);
    }
    m.test.states = {{TestState::Running, kStart}};
    return m;
}

// What a phone sees in the top right corner of a page: the text of the QR code there, and how
// wide the code is printed.
struct Scanned {
    QString text;  // zbarimg's reading; empty when it finds no code
    double widthMm = 0;
};

struct Pdf {
    QString text;                // pdftotext's, pages split by form feeds
    int pages = 0;               // pdfinfo's
    QString bbox;                // pdftotext -bbox's
    std::vector<Scanned> scans;  // each page's, when asked for
};

QString Tool(const QString& tool, const QStringList& args) {
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        ADD_FAILURE() << tool.toStdString() << ": " << p.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

constexpr int kScanDpi = 200;

// The top right corner of each page (right of 150 mm, above 45 mm) rendered as a printer would
// (pdftoppm), its QR code read by zbarimg and the dark square in it (right of 166 mm, above
// 40 mm) measured.
std::vector<Scanned> Scan(const QString& pdfPath, const QString& dir) {
    const auto px = [](double mm) { return int(mm / 25.4 * kScanDpi); };
    Tool("pdftoppm", {"-r", QString::number(kScanDpi), "-x", QString::number(px(150)), "-y", "0",
                      "-W", QString::number(px(60)), "-H", QString::number(px(45)), "-gray", "-png",
                      pdfPath, dir + "/page"});
    std::vector<Scanned> scans;
    for (const QString& name : QDir(dir).entryList({"page-*.png"}, QDir::Files, QDir::Name)) {
        const QString png = dir + '/' + name;
        Scanned scan;
        QProcess zbar;
        zbar.start("zbarimg", {"--raw", "-q", png});
        // zbarimg ends with 4 when the image holds no code.
        if (zbar.waitForFinished(30000) && zbar.exitCode() == 0)
            scan.text = QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
        const QImage image(png);
        int left = image.width(), right = -1;
        for (int y = px(5); y < std::min(image.height(), px(40)); ++y)
            for (int x = px(16); x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) < 128) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        if (right >= left) scan.widthMm = (right - left + 1) * 25.4 / kScanDpi;
        scans.push_back(scan);
    }
    return scans;
}

Pdf Read(const ReportContent& content, bool scan = false) {
    QTemporaryDir dir;
    const QString path = dir.filePath("report.pdf");
    QFile file(path);
    const QByteArray bytes = TestReportPdf(content);
    EXPECT_FALSE(bytes.isEmpty());
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    Pdf pdf;
    pdf.text = Tool("pdftotext", {path, "-"});
    pdf.bbox = Tool("pdftotext", {"-bbox", path, "-"});
    const QRegularExpressionMatch pages =
        QRegularExpression("Pages:\\s+(\\d+)").match(Tool("pdfinfo", {path}));
    pdf.pages = pages.captured(1).toInt();
    if (scan) pdf.scans = Scan(path, dir.path());
    return pdf;
}

QString Squeezed(QString text) { return text.remove(QRegularExpression("\\s")); }

// A rectangle given in millimetres on the page, in the points pdftotext measures in.
QRectF Points(const QRectF& mm) {
    const double k = 72 / 25.4;
    return {mm.x() * k, mm.y() * k, mm.width() * k, mm.height() * k};
}

// The boxes of the words of one page of pdftotext -bbox.
std::vector<QRectF> Words(const QString& page) {
    static const QRegularExpression word(
        "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" "
        "yMax=\"([\\d.]+)\">");
    std::vector<QRectF> words;
    for (const QRegularExpressionMatch& w : word.globalMatch(page))
        words.push_back(QRectF(QPointF(w.captured(1).toDouble(), w.captured(2).toDouble()),
                               QPointF(w.captured(3).toDouble(), w.captured(4).toDouble())));
    return words;
}

}  // namespace

TEST(TestReportPdf, AnUnfinishedTestIsMarkedOnEveryPageAndLeftUngraded) {
    Made m = MakeTest(95, {"900.0(C)", "1000.0(C)", "1100.0(C)", "2000(C)", "2100(C)", "2200(C)"});
    m.test.states.push_back({TestState::Paused, kStart + 95 * 60000 + 1000});
    m.test.states.push_back({TestState::Closed, kStart + 96 * 60000});
    m.test.closed = true;
    m.audit = {{kStart + 95 * 60000 + 1000, "paused_operator", "王建国", ""}};
    const ReportContent content =
        MakeReportContent(m.test, m.polls, m.audit, GradingScheme::PenetrabilityClasses, {}, {});
    EXPECT_EQ(content.unfinished,
              "未完成试验：暂停后关闭试验窗口，止于第 95 min（设定 360 min）。"
              "以下电通量为第 95 min 记录的数值，不评定等级。");
    for (const ReportContent::ChannelRow& row : content.channels) EXPECT_EQ(row.grade, "不评定");
    ASSERT_EQ(content.groups.size(), 2u);
    for (const ReportContent::GroupRow& row : content.groups) EXPECT_EQ(row.grade, "不评定");

    const Pdf pdf = Read(content);
    ASSERT_GE(pdf.pages, 2);
    const QStringList pages = pdf.text.split('\f', Qt::SkipEmptyParts);
    ASSERT_EQ(pages.size(), pdf.pages);
    for (const QString& page : pages)
        EXPECT_TRUE(Squeezed(page).contains("未完成试验：暂停后关闭试验窗口，止于第95min"))
            << page.toStdString();
    const QString text = Squeezed(pdf.text);
    // Qs 812 / 903 / 993: shown, never graded.
    EXPECT_TRUE(text.contains("1C30-1900.0812不评定")) << text.toStdString();
    EXPECT_FALSE(text.contains("812很低"));
    EXPECT_TRUE(text.contains("操作员暂停试验（王建国）"));

    // Ended after 60 minutes: graded, with the note that the method runs six hours.
    Made shortTest = MakeTest(60, {"900.0(C)", "1000.0(C)", "1100.0(C)", "", "", ""});
    shortTest.test.states.push_back({TestState::FinishedByMinutes, kStart + 60 * 60000});
    const ReportContent ended = MakeReportContent(shortTest.test, shortTest.polls, {},
                                                  GradingScheme::PenetrabilityClasses, {}, {});
    EXPECT_TRUE(ended.unfinished.isEmpty());
    EXPECT_EQ(ended.channels[0].grade, "很低");
    EXPECT_TRUE(ended.notes.contains("本试验进行 60 min；标准方法的试验时间为6 h（360 min）。"))
        << ended.notes.join('|').toStdString();
}

TEST(TestReportPdf, EveryEventIsListedOnAsManyPagesAsItTakes) {
    Made m = MakeTest(360, {"900.0(C)", "1000.0(C)", "1100.0(C)", "2000(C)", "2100(C)", "2200(C)"});
    // 39 pauses and continuations by the operator, then the end: 80 events, past midnight.
    const qint64 late = QDateTime(QDate(2026, 12, 8), QTime(23, 0, 0)).toMSecsSinceEpoch();
    for (int i = 0; i < 39; ++i) {
        const qint64 at = late + qint64(i) * 120'000;
        m.test.states.push_back({TestState::Paused, at});
        m.test.states.push_back({TestState::Running, at + 60'000});
        m.audit.push_back({at, "paused_operator", QStringLiteral("操作员%1").arg(i), ""});
    }
    m.test.states.push_back({TestState::FinishedByMinutes, late + 39 * 120'000});
    const ReportContent content =
        MakeReportContent(m.test, m.polls, m.audit, GradingScheme::PenetrabilityClasses, {}, {});
    ASSERT_EQ(content.events.size(), 80u);
    EXPECT_EQ(content.events.back().time, "2026-12-09 00:18:00");

    const Pdf pdf = Read(content);
    EXPECT_GE(pdf.pages, 3);
    EXPECT_EQ(TestReportPageCount(content), pdf.pages);
    const QString text = Squeezed(pdf.text);
    for (const ReportContent::EventRow& e : content.events)
        EXPECT_TRUE(text.contains(Squeezed(e.time + e.elapsed + e.text))) << e.text.toStdString();
    for (int page = 1; page <= pdf.pages; ++page)
        EXPECT_TRUE(text.contains(QStringLiteral("第%1页共%2页").arg(page).arg(pdf.pages)));
    EXPECT_FALSE(text.contains("另有"));
}

TEST(TestReportPdf, LongTextsWrapInsideTheirCells) {
    Made m = MakeTest(360, {"900.0(C)", "1000.0(C)", "1100.0(C)", "", "", ""});
    // No character of the other texts of its row (测试单位, 测试人员, 王建国).
    const QString organisation =
        QStringLiteral("华南理工大学土木与交通学院结构材料与工程检验实验室");
    ASSERT_EQ(organisation.size(), 25);
    m.test.header.organisation = organisation;
    m.test.states.push_back({TestState::FinishedByMinutes, kStart + 360 * 60000});
    const Pdf pdf = Read(
        MakeReportContent(m.test, m.polls, m.audit, GradingScheme::PenetrabilityClasses, {}, {}));
    EXPECT_TRUE(Squeezed(pdf.text).contains(organisation));

    // The value cell of 测试单位 runs from 43 to 105 mm across the page; its row is the one of
    // the label, whose glyphs pdftotext may give one by one or as a word.
    const double left = 43 * 72 / 25.4, right = 105 * 72 / 25.4;
    const QRegularExpression word(
        "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" "
        "yMax=\"[\\d.]+\">([^<]*)</word>");
    std::vector<QRegularExpressionMatch> words;
    for (const QRegularExpressionMatch& w : word.globalMatch(pdf.bbox)) words.push_back(w);
    double labelY = -1;
    for (const QRegularExpressionMatch& w : words)
        if (labelY < 0 && w.captured(4).contains(QStringLiteral("单")))
            labelY = w.captured(2).toDouble();
    ASSERT_GT(labelY, 0) << pdf.bbox.toStdString();
    QString seen;
    for (const QRegularExpressionMatch& w : words) {
        const QString glyphs = w.captured(4);
        if (std::fabs(w.captured(2).toDouble() - labelY) > 15 ||
            !std::all_of(glyphs.begin(), glyphs.end(),
                         [&](QChar c) { return organisation.contains(c); }))
            continue;
        seen += glyphs;
        EXPECT_GE(w.captured(1).toDouble(), left - 0.5) << glyphs.toStdString();
        EXPECT_LE(w.captured(3).toDouble(), right + 0.5) << glyphs.toStdString();
    }
    EXPECT_EQ(seen, organisation);
}

TEST(TestReportPdf, FiguresFinalCurrentsAndTheOutlierOfTheSecondGroup) {
    // Group 2 at 100 mm: channel 5 an outlier; channel 3 passed no charge (a reversed lead).
    Made m =
        MakeTest(360, {"900.0(C)", "1000.0(C)", "-3.5(C)", "1000.0(C)", "1400.0(C)", "1050.0(C)"});
    m.test.states.push_back({TestState::FinishedByMinutes, kStart + 360 * 60000});
    // The last poll comes after the last record.
    m.polls.push_back(m.polls.back());
    m.polls.back().atMs += 2000;
    for (int c = 0; c < 6; ++c) m.polls.back().current[c] = QStringLiteral("%1.25(mA)").arg(70 + c);
    const ReportContent content =
        MakeReportContent(m.test, m.polls, m.audit, GradingScheme::PenetrabilityClasses, {}, {});
    const QString text = Squeezed(Read(content).text);
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(content.channels[size_t(c)].finalCurrent, QStringLiteral("%1.25").arg(70 + c));
        EXPECT_TRUE(text.contains(content.channels[size_t(c)].adjusted +
                                  content.channels[size_t(c)].grade +
                                  content.channels[size_t(c)].finalCurrent))
            << c;
    }
    EXPECT_EQ(content.channels[2].adjusted, "无效");
    EXPECT_TRUE(text.contains("通道3无效：电通量不大于0，可能断路或接线反接，不计入组值。"));
    // Group 1 works on channels 1 and 2 (812, 903), a short group.
    EXPECT_TRUE(text.contains("第1组（通道1–3）858*很低仅2个试件，取其平均值"))
        << text.toStdString();
    EXPECT_TRUE(
        text.contains("第2组（通道4–6）926很低通道5与中间值相差超过15%，取其余两个的平均值"));
    EXPECT_TRUE(text.contains("GB/T50082")) << "the method";
    EXPECT_TRUE(text.contains("Qs>4000C为高")) << "the grading table";

    // Report numbers come from the test's own uid: two benches' test 7 differ.
    archive::ArchivedTest other = m.test;
    other.header.uid = QStringLiteral("a09e77b2-0000-4000-8000-000000000002");
    EXPECT_EQ(ReportNumber(m.test), "DTL-20261208-3F2A9C1D");
    EXPECT_NE(ReportNumber(other), ReportNumber(m.test));

    // A diameter no specimen has: no Qs, and the report says why.
    m.test.header.diameter = 10;
    const ReportContent typo =
        MakeReportContent(m.test, m.polls, m.audit, GradingScheme::PenetrabilityClasses, {}, {});
    EXPECT_EQ(typo.channels[0].adjusted, "-");
    EXPECT_TRUE(typo.groups.empty());
    EXPECT_TRUE(typo.notes.join(' ').contains("试件直径 10 mm 不在 50–150 mm 之间"));
}

// Every page carries the report number and its verification code, and with the lab's verify
// address the QR code of the report's verify URL in its top right corner, readable, 22 mm
// wide and clear of any text, however many pages the report takes and whatever heads them.
TEST(TestReportPdf, EveryPageCarriesTheNumberTheCodeAndTheQrCode) {
    server::TestAccount account;
    account.header = QStringLiteral("1234567");
    account.records = 73;
    account.recordsSum = QStringLiteral("888888");
    const struct {
        const char* name;
        QString base;
        bool unfinished;
        int pauses;
    } cases[] = {
        {"many pages", "https://lab.example.cn/kivo/", false, 39},
        {"unfinished", "http://192.168.10.5:8080", true, 0},
        {"no verify address", "", false, 39},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Made m = MakeTest(c.unfinished ? 95 : 360,
                          {"900.0(C)", "1000.0(C)", "1100.0(C)", "2000(C)", "2100(C)", "2200(C)"});
        for (int i = 0; i < c.pauses; ++i) {
            const qint64 at = kStart + 60'000 + qint64(i) * 120'000;
            m.test.states.push_back({TestState::Paused, at});
            m.test.states.push_back({TestState::Running, at + 60'000});
        }
        m.test.states.push_back(c.unfinished ? archive::StateChange{TestState::Closed, kStart}
                                             : archive::StateChange{TestState::FinishedByMinutes,
                                                                    kStart + 360 * 60000});
        m.test.closed = c.unfinished;
        const ReportContent content = MakeReportContent(
            m.test, m.polls, m.audit, GradingScheme::PenetrabilityClasses, account, c.base);
        ASSERT_EQ(content.unfinished.isEmpty(), !c.unfinished);
        const QString code = server::VerificationCode(ReportNumber(m.test), account);
        const QString url = server::VerifyUrl(c.base, ReportNumber(m.test), code);

        const Pdf pdf = Read(content, true);
        EXPECT_EQ(TestReportPageCount(content), pdf.pages);
        const QStringList pages = pdf.text.split('\f', Qt::SkipEmptyParts);
        ASSERT_EQ(pages.size(), pdf.pages);
        ASSERT_EQ(int(pdf.scans.size()), pdf.pages);
        EXPECT_GE(pdf.pages, c.pauses > 0 ? 3 : 2);
        // The words of each page, in points; the QR code's square with its quiet zone, 4
        // modules on each side, must hold none of them.
        const QStringList boxes = pdf.bbox.split("<page ", Qt::SkipEmptyParts).mid(1);
        ASSERT_EQ(boxes.size(), pdf.pages);
        const double modules = c.base.isEmpty() ? 1 : EncodeQr(url).width;
        const double quiet = 4 * 22.0 / modules;
        const QRectF clear =
            Points(QRectF(168 - quiet, 16 - quiet, 22 + 2 * quiet, 22 + 2 * quiet));
        for (int page = 0; page < pdf.pages; ++page) {
            SCOPED_TRACE(page + 1);
            const QString text = Squeezed(pages[page]);
            EXPECT_TRUE(text.contains("报告编号：" + content.reportNumber));
            EXPECT_TRUE(text.contains("核验码：" + code)) << text.left(200).toStdString();
            const Scanned& scan = pdf.scans[size_t(page)];
            if (c.base.isEmpty()) {
                EXPECT_FALSE(text.contains("扫码"));
                EXPECT_EQ(scan.text, "");
                continue;
            }
            EXPECT_TRUE(text.contains("扫码或访问" + content.verifyPage + "核验报告"))
                << text.left(200).toStdString();
            EXPECT_EQ(scan.text, url);
            EXPECT_GE(scan.widthMm, 21);
            EXPECT_LE(scan.widthMm, 23);
            for (const QRectF& word : Words(boxes[page]))
                EXPECT_FALSE(word.intersects(clear)) << word.x() << ' ' << word.y();
        }
    }
}
