#include "history/test_list_model.h"

#include <QDate>
#include <QTime>

#include "archive/test_states.h"

namespace {

// The program's own "%d-%d-%d" dates and "%02d:%02d:%02d" times, read by hand: the general
// parsers are too slow for thousands of rows.
bool ThreeNumbers(const QString& text, QChar separator, int out[3]) {
    int part = 0, digits = 0;
    out[0] = out[1] = out[2] = 0;
    for (const QChar c : text) {
        if (c == separator) {
            if (digits == 0 || ++part > 2) return false;
            digits = 0;
        } else if (c >= u'0' && c <= u'9' && digits < 9) {
            out[part] = out[part] * 10 + (c.unicode() - u'0');
            ++digits;
        } else {
            return false;
        }
    }
    return part == 2 && digits > 0;
}

QDate DateOf(const QString& text) {
    int n[3];
    return ThreeNumbers(text, u'-', n) ? QDate(n[0], n[1], n[2]) : QDate();
}

QTime TimeOf(const QString& text) {
    int n[3];
    return ThreeNumbers(text, u':', n) ? QTime(n[0], n[1], n[2]) : QTime();
}

// "2104 中"; empty for no result.
QString ResultText(const std::optional<ChargeResult>& result, GradingScheme scheme) {
    if (!result) return {};
    return AdjustedChargeText(result->adjusted) + u' ' + GradeText(result->adjusted, scheme);
}

// "2104 Q-II", "1500* Q-III" for a group short of three specimens.
QString GroupText(const std::optional<GroupResult>& group, GradingScheme scheme) {
    if (!group) return {};
    return AdjustedChargeText(group->value) +
           (group->rule == GroupRule::Incomplete ? QStringLiteral("* ") : QStringLiteral(" ")) +
           GradeText(group->value, scheme);
}

}  // namespace

TestListModel::TestListModel(QObject* parent) : QAbstractTableModel(parent) {}

const TestListModel::Results& TestListModel::results(int row) const {
    std::optional<Results>& cached = m_results[size_t(row)];
    if (!cached) {
        const archive::TestSummary& test = m_rows[size_t(row)].test;
        cached = ResultsOf(test.lastCharge, test.channelOff, test.diameter);
    }
    return *cached;
}

TestListModel::Row TestListModel::makeRow(archive::TestSummary test) {
    Row row;
    const QDate date = DateOf(test.testDate);
    const QTime time = TimeOf(test.startTime);
    if (date.isValid()) row.isoDate = date.toString(Qt::ISODate);
    // Days and milliseconds as shown, without a time zone: only the order matters.
    row.startKey = date.isValid() ? date.toJulianDay() * 86400000 +
                                        (time.isValid() ? time.msecsSinceStartOfDay() : 0)
                                  : test.startedAtMs;
    row.test = std::move(test);
    return row;
}

void TestListModel::setTests(std::vector<archive::TestSummary> tests,
                             std::vector<QString> benches) {
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(tests.size());
    for (size_t i = 0; i < tests.size(); ++i) {
        m_rows.push_back(makeRow(std::move(tests[i])));
        if (i < benches.size()) m_rows.back().bench = std::move(benches[i]);
    }
    m_results.assign(m_rows.size(), std::nullopt);
    endResetModel();
}

void TestListModel::setGradingScheme(GradingScheme scheme) {
    if (scheme == m_scheme) return;
    m_scheme = scheme;
    emit headerDataChanged(Qt::Horizontal, FirstResult, ColumnCount - 1);
    if (!m_rows.empty())
        emit dataChanged(index(0, FirstResult), index(rowCount() - 1, ColumnCount - 1));
}

int TestListModel::rowOfId(qint64 id) const {
    for (size_t r = 0; r < m_rows.size(); ++r)
        if (m_rows[r].test.id == id) return int(r);
    return -1;
}

int TestListModel::rowOfUid(const QString& uid) const {
    for (size_t r = 0; r < m_rows.size(); ++r)
        if (m_rows[r].test.uid == uid) return int(r);
    return -1;
}

int TestListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TestListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString TestListModel::text(int index, int column) const {
    const archive::TestSummary& t = m_rows[size_t(index)].test;
    switch (column) {
        case Date:
            return t.testDate;
        case StartTime:
            return t.startTime;
        case Tester:
            return t.tester;
        case Organisation:
            return t.organisation;
        case TestMinutes:
            return QString::number(t.testMinutes);
        case RecordInterval:
            return QString::number(t.recordInterval);
        case RecordCount:
            return QString::number(t.recordCount);
        case State:
            // A test whose window was closed before it came to an end was interrupted.
            return archive::StateText(
                t.closed && archive::IsUnfinished(t.state) ? archive::TestState::Closed : t.state);
        case Bench:
            return m_rows[size_t(index)].bench;
        default:
            break;
    }
    if (column >= FirstCharge && column < FirstResult) {
        const int slot = column - FirstCharge;
        return t.channelOff[slot] != 0 ? QStringLiteral("-")
                                       : ChargeWithoutUnit(t.lastCharge[slot]);
    }
    if (column >= FirstResult && column < FirstGroup) {
        const int slot = column - FirstResult;
        if (t.channelOff[slot] != 0) return QStringLiteral("-");
        return ResultText(results(index).channels[slot], m_scheme);
    }
    if (column >= FirstGroup && column < ColumnCount)
        return GroupText(results(index).groups[column - FirstGroup], m_scheme);
    return {};
}

QVariant TestListModel::sortKey(int index, int column) const {
    const Row& row = m_rows[size_t(index)];
    const archive::TestSummary& t = row.test;
    switch (column) {
        case Date:
            return row.startKey;
        case StartTime: {
            const QTime time = TimeOf(t.startTime);
            return time.isValid() ? QVariant(time.msecsSinceStartOfDay()) : QVariant();
        }
        case TestMinutes:
            return t.testMinutes;
        case RecordInterval:
            return t.recordInterval;
        case RecordCount:
            return t.recordCount;
        default:
            break;
    }
    if (column >= FirstCharge && column < FirstResult) {
        const std::optional<double> q = ChargeNumber(t.lastCharge[column - FirstCharge]);
        return q && t.channelOff[column - FirstCharge] == 0 ? QVariant(*q) : QVariant();
    }
    if (column >= FirstResult && column < FirstGroup) {
        const std::optional<ChargeResult>& r = results(index).channels[column - FirstResult];
        return r ? QVariant(r->adjusted) : QVariant();
    }
    if (column >= FirstGroup && column < ColumnCount) {
        const std::optional<GroupResult>& g = results(index).groups[column - FirstGroup];
        return g ? QVariant(g->value) : QVariant();
    }
    return text(index, column);
}

QVariant TestListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_rows.size())) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return text(index.row(), index.column());
        case SortRole:
            return sortKey(index.row(), index.column());
        case Qt::ToolTipRole:
            if (index.column() >= FirstGroup) {
                const std::optional<GroupResult>& g =
                    results(index.row()).groups[index.column() - FirstGroup];
                if (g) return GroupRuleText(*g);
            }
            return {};
        case Qt::TextAlignmentRole:
            if (index.column() == Tester || index.column() == Organisation ||
                index.column() == Bench)
                return int(Qt::AlignLeft | Qt::AlignVCenter);
            return int(Qt::AlignCenter);
        default:
            return {};
    }
}

QVariant TestListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QStringList kFixed = {
        QStringLiteral("测试日期"),        QStringLiteral("开始时间"),
        QStringLiteral("测试人员"),        QStringLiteral("测试单位"),
        QStringLiteral("试验时间\n(min)"), QStringLiteral("保存间隔\n(min)"),
        QStringLiteral("记录数"),          QStringLiteral("状态")};
    if (section < FirstCharge) return kFixed.value(section);
    if (section == Bench) return QStringLiteral("实验台");
    if (section < FirstResult)
        return QStringLiteral("通道%1\n电通量(C)").arg(section - FirstCharge + 1);
    const QString group = QStringLiteral("结果 ");
    if (section < FirstGroup) {
        const int channel = section - FirstResult + 1;
        if (role == Qt::ToolTipRole)
            return QStringLiteral("通道%1换算为直径95mm试件的电通量Qs及其%2")
                .arg(channel)
                .arg(GradingSchemeName(m_scheme));
        return group + QStringLiteral("通道%1\nQs(C) %2")
                           .arg(channel)
                           .arg(GradingSchemeShortName(m_scheme));
    }
    const int number = section - FirstGroup + 1;
    if (role == Qt::ToolTipRole)
        return QStringLiteral("第%1组（通道%2–%3）三个试件的组值Qs及其%4；带*的组不足三个试件")
            .arg(number)
            .arg((number - 1) * kGroupSize + 1)
            .arg(number * kGroupSize)
            .arg(GradingSchemeName(m_scheme));
    return group +
           QStringLiteral("第%1组\nQs(C) %2").arg(number).arg(GradingSchemeShortName(m_scheme));
}
