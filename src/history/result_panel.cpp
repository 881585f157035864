#include "history/result_panel.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include "export/grading_scheme.h"
#include "export/penetrability.h"
#include "monitor/table_cell.h"
#include "platform/song_font.h"

namespace {

void Fill(QTableWidget* table, int column, const QString& charge, const QString& adjusted,
          const QString& grade) {
    table->setItem(ResultPanel::ChargeRow, column, CentredCell(charge));
    table->setItem(ResultPanel::AdjustedRow, column, CentredCell(adjusted));
    table->setItem(ResultPanel::GradeRow, column, CentredCell(grade));
}

}  // namespace

ResultPanel::ResultPanel(const archive::ArchivedTest& test, QWidget* parent) : QWidget(parent) {
    setFont(songFont(12));
    const int diameter = test.header.diameter;
    const GradingScheme scheme = StoredGradingScheme();
    auto* caption = new QLabel(
        QStringLiteral("试验结果(&R)（试件直径 %1mm，换算为直径95mm试件）").arg(diameter), this);
    caption->setGeometry(0, 0, 822, 20);

    m_table = new QTableWidget(3, archive::kChannels + kGroups, this);
    m_table->setGeometry(0, 22, 822, 100);
    m_table->setAccessibleName(QStringLiteral("试验结果"));
    caption->setBuddy(m_table);
    QStringList columns;
    for (int ch = 1; ch <= archive::kChannels; ++ch) columns << QStringLiteral("通道%1").arg(ch);
    for (int g = 1; g <= kGroups; ++g) columns << QStringLiteral("第%1组").arg(g);
    m_table->setHorizontalHeaderLabels(columns);
    m_table->setVerticalHeaderLabels({QStringLiteral("电通量Q(C)"),
                                      QStringLiteral("换算电通量Qs(C)"),
                                      GradingSchemeName(scheme)});
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionsClickable(false);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setTabKeyNavigation(false);
    m_table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    m_charges = test.records.empty() ? std::array<QString, archive::kChannels>{}
                                     : test.records.back().charge;
    m_channelOff = test.header.channelOff;
    m_diameter = diameter;
    m_rules = new QLabel(this);
    m_rules->setGeometry(0, 124, 822, 20);
    m_rules->setAccessibleName(QStringLiteral("组值取法"));

    // Placed as the form's buttons are, in their column.
    m_csv = new QPushButton(QStringLiteral("导出CSV"), this);
    m_csv->setGeometry(847, 22, 100, 28);
    m_csv->setToolTip(QStringLiteral("把每两秒一次的全部读数导出为CSV文件，供表格软件分析"));
    m_report = new QPushButton(QStringLiteral("导出报告PDF(&B)"), this);
    m_report->setGeometry(847, 56, 100, 28);
    m_report->setToolTip(QStringLiteral("把试验报告保存为PDF文件"));
    m_print = new QPushButton(QStringLiteral("打印(&P)"), this);
    m_print->setGeometry(847, 90, 100, 28);
    m_print->setToolTip(QStringLiteral("打印试验报告"));
    const bool hasRecords = !test.records.empty();
    m_report->setEnabled(hasRecords);
    m_print->setEnabled(hasRecords);
    connect(m_csv, &QPushButton::clicked, this, &ResultPanel::exportCsvRequested);
    connect(m_report, &QPushButton::clicked, this, &ResultPanel::exportReportRequested);
    connect(m_print, &QPushButton::clicked, this, &ResultPanel::printRequested);
    setTabOrder(m_table, m_csv);
    setTabOrder(m_csv, m_report);
    setTabOrder(m_report, m_print);
    setMinimumSize(947, 146);
    showGrades(scheme);
}

void ResultPanel::showGrades(GradingScheme scheme) {
    m_table->setVerticalHeaderItem(GradeRow, new QTableWidgetItem(GradingSchemeName(scheme)));
    const std::array<QString, archive::kChannels>& charges = m_charges;
    const TestResults results = ResultsOf(charges, m_channelOff, m_diameter);
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        const std::optional<ChargeResult>& r = results.channels[slot];
        if (m_channelOff[slot] != 0)
            Fill(m_table, slot, QStringLiteral("-"), {}, {});
        else if (!results.invalid[slot].isEmpty())
            Fill(m_table, slot, ChargeWithoutUnit(charges[slot]), QStringLiteral("无效"), {});
        else
            Fill(m_table, slot, ChargeWithoutUnit(charges[slot]),
                 r ? AdjustedChargeText(r->adjusted) : QString(),
                 r ? GradeText(r->adjusted, scheme) : QString());
    }
    QStringList rules;
    if (!results.diameterProblem.isEmpty()) rules << results.diameterProblem;
    for (int slot = 0; slot < archive::kChannels; ++slot)
        if (!results.invalid[slot].isEmpty())
            rules << QStringLiteral("通道%1无效：%2").arg(slot + 1).arg(results.invalid[slot]);
    for (int g = 0; g < kGroups; ++g) {
        const std::optional<GroupResult>& group = results.groups[g];
        QString value = group ? AdjustedChargeText(group->value) : QString();
        // A group short of three specimens is marked as such.
        if (group && group->rule == GroupRule::Incomplete) value += u'*';
        Fill(m_table, FirstGroupColumn + g, {}, value,
             group ? GradeText(group->value, scheme) : QString());
        if (group) rules << QStringLiteral("第%1组：%2").arg(g + 1).arg(GroupRuleText(*group));
    }

    m_rules->setText(rules.join(QStringLiteral("；")));
}

QString ResultPanel::cell(int row, int column) const {
    QTableWidgetItem* item = m_table->item(row, column);
    return item ? item->text() : QString();
}

QString ResultPanel::rulesText() const { return m_rules->text(); }
