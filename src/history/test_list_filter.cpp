#include "history/test_list_filter.h"

#include "history/test_list_model.h"

TestListFilter::TestListFilter(QObject* parent) : QSortFilterProxyModel(parent) {
    setSortRole(TestListModel::SortRole);
}

void TestListFilter::setFilterText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed == m_text) return;
    m_text = trimmed;
    invalidateFilter();
}

void TestListFilter::setBench(const QString& bench) {
    if (bench == m_bench) return;
    m_bench = bench;
    invalidateFilter();
}

bool TestListFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (m_text.isEmpty() && m_bench.isEmpty()) return true;
    const auto* model = qobject_cast<const TestListModel*>(sourceModel());
    if (model == nullptr || sourceParent.isValid()) return true;
    const TestListModel::Row& row = model->row(sourceRow);
    if (!m_bench.isEmpty() && row.bench != m_bench) return false;
    if (m_text.isEmpty()) return true;
    auto has = [this](const QString& field) { return field.contains(m_text, Qt::CaseInsensitive); };
    return has(row.test.tester) || has(row.test.organisation) || has(row.test.testDate) ||
           has(row.isoDate);
}

bool TestListFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    // The date, the order the list opens in, straight from the rows: tens of thousands of
    // tests are sorted without a QVariant for each comparison.
    if (left.column() == TestListModel::Date && right.column() == TestListModel::Date)
        if (const auto* model = qobject_cast<const TestListModel*>(sourceModel()))
            return model->row(left.row()).startKey < model->row(right.row()).startKey;
    const QVariant a = left.data(sortRole());
    const QVariant b = right.data(sortRole());
    // A cell without a value comes before every value.
    if (!a.isValid() || !b.isValid()) return !a.isValid() && b.isValid();
    if (a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString)
        return QString::localeAwareCompare(a.toString(), b.toString()) < 0;
    return QVariant::compare(a, b) == QPartialOrdering::Less;
}
