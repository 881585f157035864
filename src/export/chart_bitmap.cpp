#include "export/chart_bitmap.h"

#include <QImage>
#include <QPainter>
#include <algorithm>

#include "export/dib_file.h"
#include "export/file_replace.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "monitor/trend_chart.h"
#include "platform/file_dialog.h"
#include "platform/message_box.h"

ChartExportSnapshot TakeChartExportSnapshot(const Testclass& form, const QSize& frameSize) {
    ChartExportSnapshot s;
    s.size = frameSize;
    s.recordInterval = g_nRecordInterval;
    s.gridShift = form.m_nGridShift;
    s.lastRecord = g_nLastRecord;
    for (int slot = 0; slot < CHART_EXPORT_CHANNELS; ++slot) {
        s.channelOff[slot] = g_bChannelOff[slot];
        if (form.m_listHistory[slot] == nullptr) continue;
        // Only a curve needs the texts; rows a list lacks read as empty, that is 0 mA.
        QStringList texts;
        if (s.lastRecord >= 1 && s.channelOff[slot] == 0) {
            texts.reserve(static_cast<qsizetype>(s.lastRecord) + 1);
            for (uint64_t r = 0; r <= s.lastRecord; ++r)
                texts << form.historyCell(slot, static_cast<int>(r), HistoryColumn::Current);
        }
        s.currents[slot] = std::move(texts);
    }
    return s;
}

QImage RenderChartBitmap(const ChartExportSnapshot& s, int channel) {
    QImage image(s.size, QImage::Format_RGB32);
    image.fill(Qt::white);
    const int slot = channel - 1;
    TrendChartData data;
    data.title = ExportChartTitle(channel);
    data.recordInterval = s.recordInterval;
    data.gridShift = s.gridShift;
    data.drawCurve = s.lastRecord >= 1 && s.channelOff[slot] == 0 && s.currents[slot].has_value();
    if (data.drawCurve) data.currents = *s.currents[slot];
    QPainter painter(&image);
    DrawTrendChart(painter, data);
    painter.end();
    return image;
}

QString ChartBitmapStem(const QString& chosenPath) {
    return chosenPath.left(std::max<qsizetype>(0, chosenPath.size() - 4));
}

QString ChartBitmapPath(const QString& stem, int channel) {
    return stem + QStringLiteral("通道") + QString::number(channel) + QStringLiteral(".bmp");
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
    }
    if (!failures.isEmpty()) {
        MessageBox::show(this,
                         QStringLiteral("以下趋势图文件没有保存，原有的同名文件没有改动：\n") +
                             failures.join(QLatin1Char('\n')),
                         MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
    }
}
