#pragma once

#include <QDialog>
#include <functional>
#include <optional>

#include "archive/archive_rows.h"
#include "history/viewed_test.h"
#include "server/server_reader.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class TestListFilter;
class TestListModel;
class ServerRead;

// "历史实验": every test of the archive, newest first, sortable by any column, with a filter
// on the tester, the organisation or the date. A test can be opened in the test window (view
// mode), exported as CSV, its test report saved as PDF or printed, or deleted. One instance, not
// modal, owned by the main window; the list is read again whenever the window is shown and after a
// deletion. The source switch shows the lab server's tests instead, every bench's, with the bench
// column and a bench filter; the server is read on a worker thread (ServerRead), the window
// showing that it waits and able to give up. The server's list comes 500 tests at a time,
// newest first ("更多" for the next ones); the bench and the filter text are applied by the
// server, which reads them on its indices.
class HistoryWindow : public QDialog {
    Q_OBJECT

  public:
    // What the window asks of the main window.
    struct Host {
        // Shows test `id` in the test window; false (the reason told) when it cannot.
        std::function<bool(qint64 id)> openTest;
        // The archive id of the test the view window shows, if any.
        std::function<std::optional<qint64>()> viewedTest;
        // Shows a test read from the lab server in the test window, as openTest does.
        std::function<bool(ViewedTest viewed)> showTest;
    };

    enum class Source { Archive, Server };

    HistoryWindow(QWidget* owner, QString archivePath, Host host);
    ~HistoryWindow() override;

    // Reads the list from the source again, keeping the selected test selected. From the
    // lab server the list comes later (serverRead()->busy() until then).
    void refresh();
    // Shows the grades in the lab's grading scheme as now stored, without reading the list again.
    void applyGradingScheme();

    Source source() const;
    void setSource(Source source);

    // The selected test, if any.
    std::optional<archive::TestSummary> selectedTest() const;
    // Selects the row of test `id`; false when the list does not show it.
    bool selectTest(qint64 id);

    // The buttons' commands (also driven by tests).
    void openSelected();
    void exportSelected();
    void exportReportSelected();
    void printSelected();
    void deleteSelected();

    QTableView* view() const { return m_view; }
    QLineEdit* filterEdit() const { return m_filter; }
    QComboBox* sourceBox() const { return m_source; }
    QComboBox* benchBox() const { return m_bench; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* moreButton() const { return m_more; }
    // Reads the next page of the server's list ("更多").
    void readMore();
    ServerRead* serverRead() const { return m_serverRead; }
    TestListModel* model() const { return m_model; }
    TestListFilter* proxy() const { return m_proxy; }
    QString statusText() const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void updateButtons();
    void updateCount();
    // The first page of the server's list, or the next one after those shown.
    void refreshServer(bool nextPage = false);
    void fillBenches();
    // Reads the selected test of the lab server whole, then hands it to `use`.
    void loadServerTest(
        std::function<void(archive::ArchivedTest, std::vector<archive::PollRow>)> use);

    QString m_archivePath;
    Host m_host;
    TestListModel* m_model = nullptr;
    TestListFilter* m_proxy = nullptr;
    QTableView* m_view = nullptr;
    QLineEdit* m_filter = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_csv = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_report = nullptr;
    QPushButton* m_print = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_more = nullptr;
    QTimer* m_searchDelay = nullptr;  // the server is asked once typing pauses
    QComboBox* m_source = nullptr;
    QLabel* m_benchLabel = nullptr;
    QComboBox* m_bench = nullptr;
    ServerRead* m_serverRead = nullptr;
    QString m_readError;
    // The server's list as read so far, whether more follow, and its benches.
    server::ServerTestList m_serverList;
    // The search and benches the listed pages were read with: 更多 goes on with them, whatever
    // the search field holds meanwhile.
    server::ServerListQuery m_listedQuery;
    std::vector<std::pair<QString, std::vector<qint64>>> m_serverBenches;
    QString m_serverBench;  // the bench chosen (its text); empty: every bench
};
