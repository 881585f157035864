#include "export/report_plan.h"

#include <locale.h>
#include <stdlib.h>

namespace {

// Cells of one group of three specimens on the report sheet: its first row and the row of
// its mean.
struct SpecimenGroup {
    int firstRow;
    int meanRow;
    int firstSlot;
};
constexpr SpecimenGroup kGroups[] = {{7, 10, 0}, {12, 15, 3}, {17, 20, 6}};

class PlanWriter {
  public:
    void select(const QString& sheet) {
        ReportStep step;
        step.kind = ReportStep::Kind::SelectSheet;
        step.sheet = sheet;
        m_steps.push_back(step);
    }
    void cell(int row, int column, const QString& text) {
        ReportStep step;
        step.kind = ReportStep::Kind::SetCell;
        step.row = row;
        step.column = column;
        step.text = text;
        m_steps.push_back(step);
    }
    void columnWidth(int width) {
        ReportStep step;
        step.kind = ReportStep::Kind::ColumnWidth;
        step.width = width;
        m_steps.push_back(step);
    }
    std::vector<ReportStep> take() { return std::move(m_steps); }

  private:
    std::vector<ReportStep> m_steps;
};

constexpr int A = 1, B = 2, C = 3, D = 4;

}  // namespace

QString ChannelSheetName(int channel) { return QStringLiteral("通道%1").arg(channel); }

QString CellName(int row, int column) {
    QString letters;
    for (int n = column; n > 0; n = (n - 1) / 26) {
        letters.prepend(QChar(u'A' + (n - 1) % 26));
    }
    return letters + QString::number(row);
}

double ChargeValue(const QString& text) {
    // The numeric prefix is ASCII in every encoding the texts can come in, so the UTF-8
    // bytes read the same as the GBK ones. The "C" locale keeps the decimal point a point
    // whatever the operator's locale says.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    const QByteArray bytes = text.toUtf8();
    return strtod_l(bytes.constData(), nullptr, cLocale);
}

QString ChargeMean(const QString& first, const QString& second, const QString& third) {
    double sum = ChargeValue(first);
    sum += ChargeValue(second);
    sum += ChargeValue(third);
    return QString::asprintf("%.2f", sum * 0.3333333333333333);
}

std::vector<ReportStep> BuildReportPlan(const ReportSnapshot& s) {
    PlanWriter plan;

    for (int channel = 1; channel <= kReportChannels; ++channel) {
        if (s.channelOff[channel - 1]) continue;
        plan.select(ChannelSheetName(channel));
        // Row 1 holds the template's headings. A single record (lastRecord 0) exports no
        // history: the rule the report has always followed.
        if (s.lastRecord == 0) continue;
        const std::vector<ReportSnapshot::Record>& rows = s.history[channel - 1];
        for (uint32_t j = 0; j <= s.lastRecord; ++j) {
            const ReportSnapshot::Record record =
                j < rows.size() ? rows[j] : ReportSnapshot::Record{};
            const int row = static_cast<int>(j) + 2;
            plan.cell(row, A, record.number);
            plan.cell(row, B, record.current);
            plan.cell(row, C, record.charge);
        }
    }

    plan.select(kInfoSheetName);
    plan.cell(2, B, QString::number(s.testMinutes));
    plan.cell(3, B, s.recordIntervalText);
    plan.cell(4, B, s.diameterText);
    plan.cell(5, B, s.organisation);
    plan.cell(6, B, s.tester);
    plan.cell(7, B, s.voltage);
    for (int slot = 0; slot < kReportSpecimenSlots; ++slot) {
        plan.cell(8 + slot, B, s.specimenNo[slot]);
    }

    plan.select(kReportSheetName);
    plan.cell(2, B, s.organisation);
    plan.cell(4, B, s.voltage);
    plan.cell(4, D, QString::number(s.diameter));
    plan.cell(5, B, QString::number(s.testMinutes));
    plan.cell(5, D, s.tester);
    for (const SpecimenGroup& group : kGroups) {
        for (int i = 0; i < 3; ++i) {
            plan.cell(group.firstRow + i, B, s.specimenNo[group.firstSlot + i]);
            plan.cell(group.firstRow + i, D, s.lastCharge[group.firstSlot + i]);
        }
        plan.cell(group.meanRow, D,
                  ChargeMean(s.lastCharge[group.firstSlot], s.lastCharge[group.firstSlot + 1],
                             s.lastCharge[group.firstSlot + 2]));
    }
    plan.columnWidth(kReportColumnWidth);
    return plan.take();
}
