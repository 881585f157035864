#pragma once

#include <QSortFilterProxyModel>

// Sorts the test list by the model's sort keys and keeps the tests that match the filter
// text: a part of the tester, of the organisation or of the date (as shown, "2026-12-8", or
// with zeros, "2026-12-08"), whatever the case; and, when one is chosen, that ran on a bench.
class TestListFilter : public QSortFilterProxyModel {
    Q_OBJECT

  public:
    explicit TestListFilter(QObject* parent = nullptr);

    void setFilterText(const QString& text);
    QString filterText() const { return m_text; }
    // Only the tests of this bench (as the Bench column shows it); none: every bench.
    void setBench(const QString& bench);
    QString bench() const { return m_bench; }

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

  private:
    QString m_text;
    QString m_bench;
};
