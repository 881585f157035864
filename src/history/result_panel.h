#pragma once

#include <QWidget>

#include "archive/archive_rows.h"
#include "export/grading_scheme.h"

class QLabel;
class QPushButton;
class QTableWidget;

// The result of an archived test at a glance, for the view window: for each channel in use
// the charge passed Q (its last record's charge), the charge adjusted to a 95 mm specimen and
// its grade in the lab's grading scheme, then each group of three with its value, grade and
// the rule that gave the value; beside it the buttons "导出CSV", "导出报告PDF" and "打印".
// The live test window has no such panel.
class ResultPanel : public QWidget {
    Q_OBJECT

  public:
    // Rows of the table.
    static constexpr int ChargeRow = 0, AdjustedRow = 1, GradeRow = 2;
    // Columns: one per channel, then one per group of three.
    static constexpr int FirstGroupColumn = archive::kChannels;

    explicit ResultPanel(const archive::ArchivedTest& test, QWidget* parent = nullptr);

    QString cell(int row, int column) const;
    QTableWidget* table() const { return m_table; }
    QPushButton* csvButton() const { return m_csv; }
    QPushButton* reportButton() const { return m_report; }
    QPushButton* printButton() const { return m_print; }
    // How each group's value was taken, as shown below the table.
    QString rulesText() const;
    // Shows the grades in `scheme` (the lab's choice changed while the panel is open).
    void showGrades(GradingScheme scheme);

  signals:
    void exportCsvRequested();
    void exportReportRequested();
    void printRequested();

  private:
    std::array<QString, archive::kChannels> m_charges;  // of the last record
    std::array<uint8_t, archive::kChannels> m_channelOff{};
    int m_diameter = 0;
    QTableWidget* m_table = nullptr;
    QPushButton* m_csv = nullptr;
    QPushButton* m_report = nullptr;
    QPushButton* m_print = nullptr;
    QLabel* m_rules = nullptr;
};
