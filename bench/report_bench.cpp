// Time of the Excel test report for a six-hour test recorded every minute: 361 records on
// each of the six channel sheets. Prints the office's start, the fill, the save and the end.
//
//   report_bench [template.xls [report.xls]]   (default: the template of this build; the
//                                              report is kept only when named)

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

#include "export/excel_driver.h"
#include "export/report_plan.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

ReportSnapshot SixHourTest() {
    ReportSnapshot s;
    s.testMinutes = 360;
    s.recordIntervalText = "1";
    s.diameterText = "100";
    s.diameter = 100;
    s.organisation = QStringLiteral("测试单位");
    s.tester = QStringLiteral("测试人");
    s.voltage = "60.0";
    s.lastRecord = 360;
    for (int slot = 0; slot < kReportSpecimenSlots; ++slot) {
        s.specimenNo[slot] = QStringLiteral("S%1").arg(slot + 1);
        s.lastCharge[slot] = slot < kReportChannels ? QStringLiteral("%1(C)").arg(1800 + slot) : "";
    }
    for (int slot = 0; slot < kReportChannels; ++slot) {
        double charge = 0;
        for (int j = 0; j <= 360; ++j) {
            const double current = 80.0 + j * 0.05 + slot;
            charge += current * 60 / 1000.0;
            s.history[slot].push_back({QString::number(j + 1),
                                       QString::number(current, 'f', 1) + "(mA)",
                                       QString::number(charge, 'f', 1) + "(C)"});
        }
    }
    return s;
}

bool Step(bool ok, const char* what, ExcelDriver& driver) {
    if (!ok) {
        std::fprintf(stderr, "%s failed: %s\n", what, driver.lastError().toLocal8Bit().constData());
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString templatePath = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                          : QStringLiteral(KIVO_BINARY_DIR "/src/模板.xls");
    if (!QFileInfo(templatePath).isFile()) {
        std::fprintf(stderr, "no template at %s\n", templatePath.toLocal8Bit().constData());
        return 1;
    }
    const std::vector<ReportStep> plan = BuildReportPlan(SixHourTest());
    int cells = 0;
    for (const ReportStep& step : plan) cells += step.kind == ReportStep::Kind::SetCell;
    QTemporaryDir folder;
    const QString target =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : folder.path() + "/report.xls";

    std::unique_ptr<ExcelDriver> driver = CreateExcelDriver();
    const auto total = Clock::now();
    auto t = Clock::now();
    if (!Step(driver->start(), "start", *driver)) return 1;
    const double start = Seconds(t);

    t = Clock::now();
    if (!Step(driver->openTemplate(templatePath), "open template", *driver)) return 1;
    const double open = Seconds(t);

    t = Clock::now();
    for (const ReportStep& step : plan) {
        bool ok = true;
        switch (step.kind) {
            case ReportStep::Kind::SelectSheet:
                ok = driver->selectSheet(step.sheet);
                break;
            case ReportStep::Kind::SetCell:
                ok = driver->setCell(step.row, step.column, step.text);
                break;
            case ReportStep::Kind::ColumnWidth:
                ok = driver->setColumnWidth(step.width);
                break;
        }
        if (!Step(ok, "fill", *driver)) return 1;
    }
    const double fill = Seconds(t);

    t = Clock::now();
    if (!Step(driver->saveAs(target), "save", *driver)) return 1;
    const double save = Seconds(t);

    t = Clock::now();
    driver->end();
    const double end = Seconds(t);

    std::printf("report of a six-hour test, 361 records on each of 6 channels (%d cells)\n", cells);
    std::printf("  office start   %7.3f s\n", start);
    std::printf("  open template  %7.3f s\n", open);
    std::printf("  fill           %7.3f s  (%.0f us a cell)\n", fill, fill * 1e6 / cells);
    std::printf("  save .xls      %7.3f s  (%lld bytes)\n", save,
                static_cast<long long>(QFileInfo(target).size()));
    std::printf("  end            %7.3f s\n", end);
    std::printf("  total          %7.3f s\n", Seconds(total));
    return 0;
}
