#pragma once

#include <QAbstractTableModel>
#include <array>
#include <optional>
#include <vector>

#include "archive/archive_rows.h"
#include "export/grading_scheme.h"
#include "export/penetrability.h"

// The tests of the archive as a table, one row per test in the order given (newest first):
// date, start time, tester, organisation, test minutes, record interval, record count,
// state, each channel's final charge, then the result group: each channel's adjusted
// charge with its grade, and each group of three with its value and grade (a group short of
// three specimens marked "*", the rule that gave the value as the cell's tool tip); last the
// bench (host, port and device) of a test of the lab server.
// Every cell also has a sort key (SortRole) that orders numbers as numbers and dates and
// times as such; cells without a value sort first.
class TestListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    static constexpr int SortRole = Qt::UserRole + 1;
    // Columns. A result cell holds the adjusted charge and its grade ("2104 中") and sorts by
    // the adjusted charge.
    static constexpr int Date = 0, StartTime = 1, Tester = 2, Organisation = 3, TestMinutes = 4,
                         RecordInterval = 5, RecordCount = 6, State = 7, FirstCharge = 8,
                         FirstResult = FirstCharge + archive::kChannels,
                         FirstGroup = FirstResult + archive::kChannels,
                         Bench = FirstGroup + kGroups, ColumnCount = Bench + 1;
    static constexpr int chargeColumn(int slot) { return FirstCharge + slot; }
    static constexpr int resultColumn(int slot) { return FirstResult + slot; }
    static constexpr int groupColumn(int group) { return FirstGroup + group; }

    // One test with what the filter and the date's order need.
    struct Row {
        archive::TestSummary test;
        qint64 startKey = 0;  // the date and start time as shown (the date's sort key)
        QString isoDate;      // the date with zeros ("2026-12-08"), empty when unreadable
        QString bench;        // the bench it ran on (tests of the lab server)
    };
    using Results = TestResults;

    explicit TestListModel(QObject* parent = nullptr);

    // `benches`: for the tests of the lab server, the bench of each (the Bench column).
    void setTests(std::vector<archive::TestSummary> tests, std::vector<QString> benches = {});
    // The scheme the grades are shown in (the penetrability classes until set).
    void setGradingScheme(GradingScheme scheme);
    const archive::TestSummary& test(int row) const { return m_rows[size_t(row)].test; }
    const Row& row(int row) const { return m_rows[size_t(row)]; }
    // The row of the test with archive id `id`, or -1.
    int rowOfId(qint64 id) const;
    int rowOfUid(const QString& uid) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Worked out when a row is first shown or sorted by a result, then kept: a list of
    // thousands of tests is shown without working out every one.
    const Results& results(int row) const;

  private:
    static Row makeRow(archive::TestSummary test);
    QString text(int row, int column) const;
    QVariant sortKey(int row, int column) const;

    std::vector<Row> m_rows;
    mutable std::vector<std::optional<Results>> m_results;
    GradingScheme m_scheme = GradingScheme::PenetrabilityClasses;
};
