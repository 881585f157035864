#pragma once

#include <QWidget>

#include "archive/archive_rows.h"

class QPushButton;
class QTableWidget;

// The result of an archived test at a glance, for the view window: for each channel in use
// the charge passed Q (its last record's charge), the charge adjusted to a 95 mm specimen and
// the penetrability class, and the same for the mean of the channels in use; beside it the
// button "导出CSV". The live test window has no such panel.
class ResultPanel : public QWidget {
    Q_OBJECT

  public:
    // Rows of the table.
    static constexpr int ChargeRow = 0, AdjustedRow = 1, GradeRow = 2;
    // Columns: one per channel, then the mean.
    static constexpr int MeanColumn = archive::kChannels;

    explicit ResultPanel(const archive::ArchivedTest& test, QWidget* parent = nullptr);

    QString cell(int row, int column) const;
    QTableWidget* table() const { return m_table; }
    QPushButton* csvButton() const { return m_csv; }

  signals:
    void exportCsvRequested();

  private:
    QTableWidget* m_table = nullptr;
    QPushButton* m_csv = nullptr;
};
