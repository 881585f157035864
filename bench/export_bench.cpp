// Time of the text data file and of the nine chart bitmaps for a six-hour test recorded
// every minute: 361 records of six channels.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTableWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "run/form_snapshots.h"
#include "export/chart_bitmap.h"
#include "export/dib_file.h"
#include "export/text_data_file.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/file_dialog.h"
#include "platform/message_box.h"
#include "state/test_state.h"

namespace {

constexpr int kRecords = 361;
constexpr int kRuns = 7;

void fillHistory(Testclass& form) {
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
        QTableWidget* list = form.m_listHistory[slot];
        double charge = 0;
        for (int r = 0; r < kRecords; ++r) {
            const double current = 80.0 + slot * 20 + r * 0.35;
            charge += current * 60 / 1000;
            list->insertRow(r);
            list->setItem(r, 1, new QTableWidgetItem(QString::number(r + 1)));
            list->setItem(r, 2, new QTableWidgetItem(QString::number(current, 'f', 2) + "(mA)"));
            list->setItem(r, 3, new QTableWidgetItem(QString::number(charge, 'f', 1) + "(C)"));
        }
    }
    g_nLastRecord = kRecords - 1;
}

template <typename Fn>
double medianMs(Fn fn) {
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer timer;
        timer.start();
        fn();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;
    int failures = 0;
    MessageBox::setResponder([&](QWidget*, const MessageBox::Request& request) {
        std::fprintf(stderr, "message: %s\n", qPrintable(request.text));
        ++failures;
        return MessageBox::Ok;
    });
    FileDialog::setResponder([&](QWidget*, const FileDialog::SaveRequest& request) {
        return dir.filePath(QStringLiteral("bench.") + request.defaultSuffix);
    });

    g_nRecordInterval = 1;
    g_nDiameter = 100;
    g_strTester = QStringLiteral("张三");
    g_strOrganisation = QStringLiteral("检测中心");
    Testclass form;
    form.setItemTextOnGui(FormId::TestDate, QStringLiteral("2024-5-7"));
    fillHistory(form);

    const double textMs = medianMs([&] { form.OnSaveText(); });
    const double buildMs = medianMs([&] { BuildTextDataFile(TakeTextDataSnapshot(form)); });
    const double chartsMs = medianMs([&] { form.OnSaveChart(); });
    const ChartExportSnapshot snapshot =
        TakeChartExportSnapshot(form, form.chartFrameRect().size());
    const double renderMs = medianMs([&] {
        for (int n = 1; n <= CHART_EXPORT_CHANNELS; ++n)
            BuildDibFile(RenderChartBitmap(snapshot, n), CHART_BITMAP_BITS);
    });

    const qint64 textBytes = QFileInfo(dir.filePath("bench.bln")).size();
    std::printf("%d records x %d channels, median of %d runs\n", kRecords, CHANNELS_IN_USE, kRuns);
    std::printf("text data file:   %8.2f ms (%lld bytes; building alone %.2f ms)\n", textMs,
                static_cast<long long>(textBytes), buildMs);
    std::printf("nine chart files: %8.2f ms (%dx%d; drawing and encoding alone %.2f ms)\n",
                chartsMs, snapshot.size.width(), snapshot.size.height(), renderMs);
    return failures == 0 ? 0 : 1;
}
