#include "history/history_window.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "export/grading_scheme.h"
#include "history/archive_access.h"
#include "history/server_read.h"
#include "history/test_csv_export.h"
#include "history/test_deletion.h"
#include "history/test_list_filter.h"
#include "history/test_list_model.h"
#include "history/test_report_export.h"
#include "server/server_reader.h"
#include "server/server_settings.h"

namespace {

const QString kReadingServer = QStringLiteral("正在读取实验室服务器…");
// Tests of the server listed at a time.
constexpr int kServerPage = 500;
// How long one statement of a read may take on the server before it is given up.
constexpr int kServerReadLimitMs = 15000;

// How to reach the lab server, read on the worker: the settings beside the archive or the
// environment's KIVO_SERVER.
server::PgConnection::Options ServerOptions() {
    const server::ServerSettings settings = server::ReadServerSettings();
    if (!settings.configured())
        throw server::PgError(server::PgError::Kind::Refused,
                              QStringLiteral("没有设置实验室服务器（系统设置 → 实验室服务器）"));
    server::PgConnection::Options options = settings.connectOptions();
    options.statementTimeoutMs = kServerReadLimitMs;
    options.readOnly = true;
    return options;
}

}  // namespace

HistoryWindow::HistoryWindow(QWidget* owner, QString archivePath, Host host)
    : QDialog(owner), m_archivePath(std::move(archivePath)), m_host(std::move(host)) {
    setWindowTitle(QStringLiteral("历史实验"));
    setModal(false);
    setSizeGripEnabled(true);
    resize(1100, 600);

    m_model = new TestListModel(this);
    m_proxy = new TestListFilter(this);
    m_proxy->setSourceModel(m_model);

    auto* filterLabel = new QLabel(QStringLiteral("筛选(&F)："), this);
    m_filter = new QLineEdit(this);
    m_filter->setPlaceholderText(QStringLiteral("测试人员、测试单位或测试日期"));
    m_filter->setClearButtonEnabled(true);
    m_filter->setAccessibleName(QStringLiteral("筛选"));
    filterLabel->setBuddy(m_filter);
    m_status = new QLabel(this);

    auto* sourceLabel = new QLabel(QStringLiteral("来源(&S)："), this);
    m_source = new QComboBox(this);
    m_source->addItems({QStringLiteral("本机档案"), QStringLiteral("实验室服务器")});
    m_source->setAccessibleName(QStringLiteral("来源"));
    sourceLabel->setBuddy(m_source);
    m_benchLabel = new QLabel(QStringLiteral("实验台(&B)："), this);
    m_bench = new QComboBox(this);
    m_bench->setAccessibleName(QStringLiteral("实验台"));
    m_bench->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_benchLabel->setBuddy(m_bench);
    m_serverRead = new ServerRead(this);

    auto* listLabel = new QLabel(QStringLiteral("实验列表(&L)："), this);
    m_view = new QTableView(this);
    m_view->setModel(m_proxy);
    m_view->setAccessibleName(QStringLiteral("实验列表"));
    listLabel->setBuddy(m_view);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setTabKeyNavigation(false);
    m_view->setWordWrap(false);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 8);
    QHeaderView* header = m_view->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setDefaultAlignment(Qt::AlignCenter);
    // Widths from the headings and the widest text a column holds: measuring thousands of
    // rows would keep the window waiting.
    const QFontMetrics metrics = m_view->fontMetrics();
    auto sample = [](int column) {
        switch (column) {
            case TestListModel::Date:
                return QStringLiteral("2026-12-30");
            case TestListModel::StartTime:
                return QStringLiteral("00:00:00");
            case TestListModel::Tester:
                return QStringLiteral("测试人员名字");
            case TestListModel::Organisation:
                return QStringLiteral("市建设工程质量检测中心");
            case TestListModel::State:
                return QStringLiteral("通信故障");
            case TestListModel::Bench:
                return QStringLiteral("LAB-PC-02 COM1（/dev/ttyUSB0）");
            default:
                return column >= TestListModel::FirstResult ? QStringLiteral("00000 可忽略")
                                                            : QStringLiteral("00000.0");
        }
    };
    for (int column = 0; column < TestListModel::ColumnCount; ++column) {
        int width = metrics.horizontalAdvance(sample(column));
        for (const QString& line :
             m_model->headerData(column, Qt::Horizontal).toString().split(u'\n'))
            width = std::max(width, metrics.horizontalAdvance(line) + 12);  // the sort arrow
        m_view->setColumnWidth(column, width + 16);
    }
    header->setMinimumHeight(2 * m_view->fontMetrics().height() + 12);
    // The bench beside the date and time; shown for the lab server's tests only.
    header->moveSection(header->visualIndex(TestListModel::Bench), TestListModel::Tester);
    m_view->setColumnHidden(TestListModel::Bench, true);
    // Newest first, as the archive gives them; any heading sorts by its column.
    header->setSortIndicator(TestListModel::Date, Qt::DescendingOrder);
    m_view->setSortingEnabled(true);

    m_open = new QPushButton(QStringLiteral("打开(&O)"), this);
    m_open->setDefault(true);
    m_csv = new QPushButton(QStringLiteral("导出CSV(&C)"), this);
    m_delete = new QPushButton(QStringLiteral("删除(&D)"), this);
    m_report = new QPushButton(QStringLiteral("导出报告PDF(&B)"), this);
    m_print = new QPushButton(QStringLiteral("打印(&P)"), this);
    auto* reload = new QPushButton(QStringLiteral("刷新(&R)"), this);
    m_cancel = new QPushButton(QStringLiteral("取消读取(&A)"), this);
    m_cancel->setToolTip(QStringLiteral("不再等待实验室服务器"));
    m_cancel->setEnabled(false);
    m_more = new QPushButton(QStringLiteral("更多(&M)"), this);
    m_more->setToolTip(QStringLiteral("列出后面的 %1 个实验").arg(kServerPage));
    m_more->setEnabled(false);
    m_more->setVisible(false);
    m_searchDelay = new QTimer(this);
    m_searchDelay->setSingleShot(true);
    m_searchDelay->setInterval(300);
    auto* close = new QPushButton(QStringLiteral("关闭"), this);

    auto* top = new QHBoxLayout;
    top->addWidget(sourceLabel);
    top->addWidget(m_source);
    top->addWidget(m_benchLabel);
    top->addWidget(m_bench);
    top->addWidget(filterLabel);
    top->addWidget(m_filter, 1);
    top->addWidget(m_status);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {m_open, m_csv, m_report, m_print, m_delete, reload, m_cancel, m_more})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(listLabel);
    layout->addWidget(m_view, 1);
    layout->addLayout(buttons);

    // Tab order follows the layout.
    setTabOrder(m_source, m_bench);
    setTabOrder(m_bench, m_filter);
    setTabOrder(m_filter, m_view);
    setTabOrder(m_view, m_open);
    setTabOrder(m_open, m_csv);
    setTabOrder(m_csv, m_report);
    setTabOrder(m_report, m_print);
    setTabOrder(m_print, m_delete);
    setTabOrder(m_delete, reload);
    setTabOrder(reload, m_cancel);
    setTabOrder(m_cancel, m_more);
    setTabOrder(m_more, close);

    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString& text) {
        // The server's list is filtered by the server.
        if (source() == Source::Server) {
            m_searchDelay->start();
            return;
        }
        m_proxy->setFilterText(text);
        updateCount();
        updateButtons();
    });
    connect(m_searchDelay, &QTimer::timeout, this, [this] {
        if (source() == Source::Server) refreshServer();
    });
    connect(m_more, &QPushButton::clicked, this, &HistoryWindow::readMore);
    connect(m_view, &QTableView::doubleClicked, this, [this] { openSelected(); });
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { updateButtons(); });
    connect(m_open, &QPushButton::clicked, this, &HistoryWindow::openSelected);
    connect(m_csv, &QPushButton::clicked, this, &HistoryWindow::exportSelected);
    connect(m_report, &QPushButton::clicked, this, &HistoryWindow::exportReportSelected);
    connect(m_print, &QPushButton::clicked, this, &HistoryWindow::printSelected);
    connect(m_delete, &QPushButton::clicked, this, &HistoryWindow::deleteSelected);
    connect(reload, &QPushButton::clicked, this, &HistoryWindow::refresh);
    connect(close, &QPushButton::clicked, this, &HistoryWindow::reject);
    connect(m_cancel, &QPushButton::clicked, m_serverRead, &ServerRead::cancel);
    connect(m_source, &QComboBox::currentIndexChanged, this, [this] {
        m_serverRead->cancel();
        m_searchDelay->stop();
        const bool server = source() == Source::Server;
        m_view->setColumnHidden(TestListModel::Bench, !server);
        m_more->setVisible(server);
        m_model->setTests({});
        m_serverList = {};
        m_serverBenches.clear();
        m_serverBench.clear();
        m_proxy->setBench(QString());
        m_proxy->setFilterText(server ? QString() : m_filter->text());
        fillBenches();
        refresh();
    });
    connect(m_bench, &QComboBox::activated, this, [this] {
        m_serverBench = m_bench->currentIndex() > 0 ? m_bench->currentText() : QString();
        if (source() == Source::Server) refreshServer();
    });
    connect(m_serverRead, &ServerRead::busyChanged, this, [this](bool busy) {
        m_cancel->setEnabled(busy);
        m_more->setEnabled(!busy && m_serverList.more);
        if (busy) {
            m_status->setText(kReadingServer);
            m_status->setToolTip(QString());
        } else if (source() == Source::Server && m_readError.isEmpty() &&
                   m_model->rowCount() == 0) {
            // Given up before the list came.
            m_readError = QStringLiteral("已取消读取实验室服务器");
        }
        if (!busy) updateCount();
        updateButtons();
    });
    fillBenches();
    updateButtons();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::showEvent(QShowEvent* event) {
    refresh();
    QDialog::showEvent(event);
}

HistoryWindow::Source HistoryWindow::source() const {
    return m_source->currentIndex() == 1 ? Source::Server : Source::Archive;
}

void HistoryWindow::setSource(Source source) {
    m_source->setCurrentIndex(source == Source::Server ? 1 : 0);
}

void HistoryWindow::refresh() {
    if (source() == Source::Server) {
        refreshServer();
        return;
    }
    const std::optional<archive::TestSummary> selected = selectedTest();
    QString message;
    std::unique_ptr<archive::ArchiveReader> reader = OpenArchiveReader(m_archivePath, &message);
    std::vector<archive::TestSummary> tests;
    if (reader) {
        tests = reader->listTests();
        m_readError = reader->lastError();
    } else {
        m_readError = message;
    }
    m_model->setGradingScheme(StoredGradingScheme());
    m_model->setTests(std::move(tests));
    if (!selected || !selectTest(selected->id)) {
        if (m_proxy->rowCount() > 0) m_view->selectRow(0);
    }
    updateCount();
    updateButtons();
}

void HistoryWindow::applyGradingScheme() { m_model->setGradingScheme(StoredGradingScheme()); }

void HistoryWindow::readMore() {
    if (source() != Source::Server || m_serverRead->busy()) return;
    // A search typed and not yet run comes first: its first page, as the field now says.
    if (m_searchDelay->isActive())
        refreshServer();
    else if (m_serverList.more)
        refreshServer(true);
}

void HistoryWindow::refreshServer(bool nextPage) {
    m_searchDelay->stop();
    const std::optional<archive::TestSummary> selected = selectedTest();
    server::ServerListQuery query;
    query.limit = kServerPage;
    if (nextPage && !m_serverList.tests.empty()) {
        query.search = m_listedQuery.search;
        query.benchIds = m_listedQuery.benchIds;
        const archive::TestSummary& last = m_serverList.tests.back();
        query.after = std::pair{last.startedAtMs, last.uid};
        query.firstId = last.id + 1;
    } else {
        nextPage = false;
        query.search = m_filter->text().trimmed();
        for (const auto& [text, ids] : m_serverBenches)
            if (text == m_serverBench) query.benchIds = ids;
        // A bench chosen but no longer known: every bench, until the benches are read again.
        if (!m_serverBench.isEmpty() && query.benchIds.empty()) m_serverBench.clear();
    }
    query.benches = !nextPage;
    struct Read {
        server::ServerTestList page;
    };
    auto read = std::make_shared<Read>();
    m_serverRead->start(
        ServerOptions,
        [read, query](server::PgConnection& db) {
            read->page = server::ListServerTests(db, query);
        },
        [this, read, query, selected, nextPage](const QString& error) {
            m_readError = error.isEmpty() ? QString() : ServerReadFailure(error);
            m_model->setGradingScheme(StoredGradingScheme());
            if (!error.isEmpty()) {
                if (!nextPage) m_serverList = {};
                m_serverList.more = false;
            } else if (nextPage) {
                for (auto& t : read->page.tests) m_serverList.tests.push_back(std::move(t));
                for (auto& b : read->page.benches) m_serverList.benches.push_back(std::move(b));
                m_serverList.more = read->page.more;
            } else {
                m_serverList = std::move(read->page);
                m_serverBenches = std::move(m_serverList.benchList);
                m_listedQuery = query;
            }
            m_model->setTests(m_serverList.tests, m_serverList.benches);
            m_more->setEnabled(m_serverList.more);
            fillBenches();
            const int row = selected ? m_model->rowOfUid(selected->uid) : -1;
            const QModelIndex index =
                row >= 0 ? m_proxy->mapFromSource(m_model->index(row, 0)) : QModelIndex();
            if (index.isValid()) {
                m_view->selectRow(index.row());
                m_view->scrollTo(index);
            } else if (m_proxy->rowCount() > 0) {
                m_view->selectRow(0);
            }
            updateCount();
            updateButtons();
        });
}

// "全部实验台" and each bench of the list, the one chosen kept when it is still there.
void HistoryWindow::fillBenches() {
    const bool server = source() == Source::Server;
    m_bench->clear();
    m_bench->addItem(QStringLiteral("全部实验台"));
    for (const auto& bench : m_serverBenches) m_bench->addItem(bench.first);
    const int kept = m_serverBench.isEmpty() ? 0 : m_bench->findText(m_serverBench);
    m_bench->setCurrentIndex(std::max(kept, 0));
    m_bench->setEnabled(server);
    m_benchLabel->setEnabled(server);
}

void HistoryWindow::updateCount() {
    if (m_serverRead->busy()) return;
    if (!m_readError.isEmpty() && source() == Source::Server) {
        m_status->setText(m_readError);
        m_status->setToolTip(QString());
        return;
    }
    if (!m_readError.isEmpty()) {
        m_status->setText(QStringLiteral("无法读取测试档案"));
        m_status->setToolTip(m_readError);
        return;
    }
    m_status->setToolTip(QString());
    const int shown = m_proxy->rowCount();
    const int all = m_model->rowCount();
    // The rows the server keeps apart, as the main window's status bar counts them.
    const QString conflicts =
        source() == Source::Server && m_serverList.conflicts > 0
            ? QStringLiteral("，%1 条数据与服务器不一致").arg(m_serverList.conflicts)
            : QString();
    if (source() == Source::Server && m_serverList.more) {
        m_status->setText(QStringLiteral("已列出最新的 %1 个实验，“更多”列出后面的").arg(all) +
                          conflicts);
        return;
    }
    m_status->setText((shown == all ? QStringLiteral("共 %1 个实验").arg(all)
                                    : QStringLiteral("%1 / %2 个实验").arg(shown).arg(all)) +
                      conflicts);
}

QString HistoryWindow::statusText() const { return m_status->text(); }

void HistoryWindow::updateButtons() {
    const std::optional<archive::TestSummary> test = selectedTest();
    const bool any = test.has_value() && !m_serverRead->busy();
    for (QPushButton* b : {m_open, m_csv}) b->setEnabled(any);
    // A test stays on the lab server whatever a bench does with its own copy.
    m_delete->setEnabled(any && source() == Source::Archive);
    // A report is made from the archive's copy of a test with records.
    for (QPushButton* b : {m_report, m_print})
        b->setEnabled(any && source() == Source::Archive && test->recordCount > 0);
    const bool server = source() == Source::Server;
    m_report->setToolTip(server ? ServerTestReportText()
                                : QStringLiteral("把试验报告保存为PDF文件"));
    m_print->setToolTip(server ? ServerTestReportText() : QStringLiteral("打印试验报告"));
}

std::optional<archive::TestSummary> HistoryWindow::selectedTest() const {
    const QModelIndexList rows = m_view->selectionModel()->selectedRows();
    if (rows.isEmpty()) return std::nullopt;
    const QModelIndex source = m_proxy->mapToSource(rows.front());
    if (!source.isValid()) return std::nullopt;
    return m_model->test(source.row());
}

bool HistoryWindow::selectTest(qint64 id) {
    const int row = m_model->rowOfId(id);
    if (row < 0) return false;
    const QModelIndex index = m_proxy->mapFromSource(m_model->index(row, 0));
    if (!index.isValid()) return false;
    m_view->selectRow(index.row());
    m_view->scrollTo(index);
    return true;
}

void HistoryWindow::openSelected() {
    if (source() == Source::Server) {
        loadServerTest([this](archive::ArchivedTest test, std::vector<archive::PollRow> polls) {
            ViewedTest viewed;
            viewed.test = std::move(test);
            if (!polls.empty()) viewed.lastPoll = polls.back();
            viewed.serverPolls =
                std::make_shared<const std::vector<archive::PollRow>>(std::move(polls));
            if (m_host.showTest && m_host.showTest(std::move(viewed))) hide();
        });
        return;
    }
    const std::optional<archive::TestSummary> test = selectedTest();
    if (!test || !m_host.openTest) return;
    // The window makes way for the test window; it keeps its place for the next time.
    if (m_host.openTest(test->id)) hide();
}

void HistoryWindow::exportSelected() {
    if (source() == Source::Server) {
        loadServerTest([this](archive::ArchivedTest test, std::vector<archive::PollRow> polls) {
            ExportPollsCsv(this, test, polls);
        });
        return;
    }
    if (const std::optional<archive::TestSummary> test = selectedTest())
        ExportTestCsv(this, m_archivePath, test->id);
}

void HistoryWindow::exportReportSelected() {
    if (const std::optional<archive::TestSummary> test = selectedTest())
        ExportTestReportPdf(this, m_archivePath, test->id);
}

void HistoryWindow::printSelected() {
    if (const std::optional<archive::TestSummary> test = selectedTest())
        PrintTestReportOf(this, m_archivePath, test->id);
}

void HistoryWindow::loadServerTest(
    std::function<void(archive::ArchivedTest, std::vector<archive::PollRow>)> use) {
    const std::optional<archive::TestSummary> selected = selectedTest();
    if (!selected) return;
    auto loaded = std::make_shared<std::optional<server::ServerTest>>();
    m_serverRead->start(
        ServerOptions,
        [loaded, uid = selected->uid](server::PgConnection& db) {
            *loaded = server::LoadServerTest(db, uid);
        },
        [this, loaded, use = std::move(use)](const QString& error) {
            if (!error.isEmpty())
                WarnOperator(this, ServerReadFailure(error));
            else if (!*loaded)
                WarnOperator(this, QStringLiteral("实验室服务器上已没有这项实验。"));
            else
                use(std::move((*loaded)->test), std::move((*loaded)->polls));
        });
}

void HistoryWindow::deleteSelected() {
    const std::optional<archive::TestSummary> test = selectedTest();
    if (!test || source() != Source::Archive) return;
    const std::optional<qint64> viewed =
        m_host.viewedTest ? m_host.viewedTest() : std::optional<qint64>();
    if (DeleteArchivedTest(this, m_archivePath, *test, viewed)) refresh();
}
