#include "history/result_panel.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include "export/penetrability.h"
#include "monitor/table_cell.h"
#include "platform/song_font.h"

namespace {

void Fill(QTableWidget* table, int column, const std::optional<ChargeResult>& result,
          const QString& charge) {
    table->setItem(ResultPanel::ChargeRow, column, CentredCell(charge));
    table->setItem(ResultPanel::AdjustedRow, column,
                   CentredCell(result ? AdjustedChargeText(result->adjusted) : QString()));
    table->setItem(ResultPanel::GradeRow, column,
                   CentredCell(result ? PenetrabilityText(result->grade) : QString()));
}

}  // namespace

ResultPanel::ResultPanel(const archive::ArchivedTest& test, QWidget* parent) : QWidget(parent) {
    setFont(songFont(12));
    const int diameter = test.header.diameter;
    auto* caption = new QLabel(
        QStringLiteral("试验结果(&R)（试件直径 %1mm，换算为直径95mm试件）").arg(diameter), this);
    caption->setGeometry(0, 0, 822, 20);

    m_table = new QTableWidget(3, archive::kChannels + 1, this);
    m_table->setGeometry(0, 22, 822, 100);
    m_table->setAccessibleName(QStringLiteral("试验结果"));
    caption->setBuddy(m_table);
    QStringList columns;
    for (int ch = 1; ch <= archive::kChannels; ++ch) columns << QStringLiteral("通道%1").arg(ch);
    columns << QStringLiteral("平均值");
    m_table->setHorizontalHeaderLabels(columns);
    m_table->setVerticalHeaderLabels({QStringLiteral("电通量Q(C)"),
                                      QStringLiteral("换算电通量Qs(C)"),
                                      QStringLiteral("渗透性等级")});
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionsClickable(false);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setTabKeyNavigation(false);
    m_table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    const std::array<QString, archive::kChannels> charges =
        test.records.empty() ? std::array<QString, archive::kChannels>{}
                             : test.records.back().charge;
    const TestResults results = ResultsOf(charges, test.header.channelOff, diameter);
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        if (test.header.channelOff[slot] != 0)
            Fill(m_table, slot, std::nullopt, QStringLiteral("-"));
        else
            Fill(m_table, slot, results.channels[slot], ChargeWithoutUnit(charges[slot]));
    }
    Fill(m_table, MeanColumn, results.mean, results.mean ? results.meanText : QString());

    m_csv = new QPushButton(QStringLiteral("导出CSV"), this);
    // Placed as the form's buttons are, in their column.
    m_csv->setGeometry(847, 22, 100, 28);
    m_csv->setToolTip(QStringLiteral("把每两秒一次的全部读数导出为CSV文件，供表格软件分析"));
    connect(m_csv, &QPushButton::clicked, this, &ResultPanel::exportCsvRequested);
    setTabOrder(m_table, m_csv);
    setMinimumSize(947, 122);
}

QString ResultPanel::cell(int row, int column) const {
    QTableWidgetItem* item = m_table->item(row, column);
    return item ? item->text() : QString();
}
