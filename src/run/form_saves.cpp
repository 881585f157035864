#include <QPointer>
#include <QFileInfo>

#include "export/chart_bitmap.h"
#include "export/dib_file.h"
#include "export/excel_report.h"
#include "export/file_replace.h"
#include "export/text_data_file.h"
#include "monitor/testclass.h"
#include "platform/busy_work.h"
#include "platform/file_dialog.h"
#include "platform/gui_gate.h"
#include "platform/message_box.h"
#include "run/form_snapshots.h"
#include "run/run_audit.h"

// The form's three saves: the text data file, the chart bitmaps and the report. Each asks
// for its file, takes a snapshot of the form and hands it to its export.

void Testclass::OnSaveText() {
    FileDialog::SaveRequest request;
    request.filter = QStringLiteral("*.bln");
    request.defaultSuffix = QStringLiteral("bln");
    request.proposedName = ProposedExportName();
    request.confirmOverwrite = true;
    const QString path = FileDialog::getSaveFileName(this, request);
    if (path.isEmpty()) return;

    const TextDataFile file = BuildTextDataFile(TakeTextDataSnapshot(*this));
    if (!file.ok()) {
        MessageBox::show(this,
                         QStringLiteral("%1中有GBK编码无法保存的字符，文本数据没有保存。\n"
                                        "请改用GBK能表示的文字后再保存。")
                             .arg(file.unencodable),
                         MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
        return;
    }
    const QString failure =
        ReplaceFileContentsOrExplain(path, file.bytes, QStringLiteral("文本数据文件"));
    if (failure.isEmpty())
        RunAudit::recordFile(this, QStringLiteral("exported"), QStringLiteral("文本数据"), path);
    else
        MessageBox::show(this, failure, MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
}

void Testclass::OnSaveChart() {
    // The picture has the size the chart frame has on screen when the operator asks.
    const QSize frameSize = chartFrameRect().size();

    FileDialog::SaveRequest request;
    request.filter = QStringLiteral("*.BMP");
    request.defaultSuffix = QStringLiteral("BMP");
    request.proposedName = ProposedExportName();
    request.confirmOverwrite = false;
    const QString chosen = FileDialog::getSaveFileName(this, request);
    if (chosen.isEmpty()) return;

    const QString stem = ChartBitmapStem(chosen);
    const ChartExportSnapshot snapshot = TakeChartExportSnapshot(*this, frameSize);
    QStringList failures;
    for (int channel = 1; channel <= CHART_EXPORT_CHANNELS; ++channel) {
        const QString path = ChartBitmapPath(stem, channel);
        const QByteArray bytes =
            BuildDibFile(RenderChartBitmap(snapshot, channel), CHART_BITMAP_BITS);
        QString reason;
        // A file that cannot be written is skipped; the other channels still get theirs.
        if (!ReplaceFileContents(path, bytes, &reason))
            failures << QStringLiteral("%1\n（%2）").arg(path, reason);
        else
            RunAudit::recordFile(this, QStringLiteral("exported"), QStringLiteral("趋势图"), path);
    }
    if (!failures.isEmpty()) {
        MessageBox::show(this,
                         QStringLiteral("以下趋势图文件没有保存，原有的同名文件没有改动：\n") +
                             failures.join(QLatin1Char('\n')),
                         MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
    }
}

void Testclass::OnSaveExcel() {
    // The report reads the form's lists: it runs on the GUI thread whoever asks for it.
    if (!GuiGate::onGuiThread()) {
        GuiGate::instance().run([this] { OnSaveExcel(); });
        return;
    }
    FileDialog::SaveRequest request;
    request.filter = QStringLiteral("*.xls");
    request.defaultSuffix = QStringLiteral("xls");
    request.proposedName = ProposedExportName();
    request.confirmOverwrite = true;
    const QString targetPath = FileDialog::getSaveFileName(this, request);
    if (targetPath.isEmpty()) return;

    const QString templatePath = ReportTemplatePath();
    const QString refusal = CheckReportTarget(templatePath, targetPath);
    if (refusal == kTemplateMissing) {
        MessageBox::show(this, kTemplateMissing);
        return;
    }
    if (!refusal.isEmpty()) {
        MessageBox::show(this, refusal, MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
        return;
    }

    // The office builds the report from a copy of the form's data on a thread of its own:
    // the window keeps repainting meanwhile.
    const ReportSnapshot snapshot = TakeReportSnapshot(*this);
    QString message;
    QPointer<Testclass> self(this);
    RunWithBusyBox(this, QStringLiteral("正在生成报表…"),
                   [&] { message = WriteReport(snapshot, templatePath, targetPath); });
    if (message.isEmpty())
        RunAudit::recordFile(self.data(), QStringLiteral("exported"), QStringLiteral("报表"),
                             targetPath);
    if (!message.isEmpty()) {
        MessageBox::show(self.data(), message, MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
    }
}
