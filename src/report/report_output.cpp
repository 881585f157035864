#include "report/report_output.h"

#include <QBuffer>
#include <QPdfWriter>
#include <QPrinter>

#include "report/report_content.h"
#include "report/report_painter.h"

QByteArray TestReportPdf(const ReportContent& content) {
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        if (!buffer.open(QIODevice::WriteOnly)) return {};
        QPdfWriter writer(&buffer);
        // One device unit per tenth of a millimetre.
        writer.setResolution(254);
        writer.setTitle(content.title + u' ' + content.reportNumber);
        writer.setCreator(QStringLiteral("Kivo"));
        if (!PaintTestReport(writer, content)) return {};
    }
    return bytes;
}

bool PrintTestReport(QPrinter& printer, const ReportContent& content) {
    printer.setFullPage(true);
    printer.setDocName(content.title + u' ' + content.reportNumber);
    return PaintTestReport(printer, content);
}
