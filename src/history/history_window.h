#pragma once

#include <QDialog>
#include <functional>
#include <optional>

#include "archive/archive_rows.h"
#include "history/viewed_test.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class TestListFilter;
class TestListModel;
class ServerRead;

// "历史实验": every test of the archive, newest first, sortable by any column, with a filter
// on the tester, the organisation or the date. A test can be opened in the test window (view
// mode), exported as CSV, its test report saved as PDF or printed, or deleted. One instance, not
// modal, owned by the main window; the list is read again whenever the window is shown and after a
// deletion. The source switch shows the lab server's tests instead, every bench's, with the bench
// column and a bench filter; the server is read on a worker thread (ServerRead), the window
// showing that it waits and able to give up.
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
    ServerRead* serverRead() const { return m_serverRead; }
    TestListModel* model() const { return m_model; }
    TestListFilter* proxy() const { return m_proxy; }
    QString statusText() const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void updateButtons();
    void updateCount();
    void refreshServer();
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
    QComboBox* m_source = nullptr;
    QLabel* m_benchLabel = nullptr;
    QComboBox* m_bench = nullptr;
    ServerRead* m_serverRead = nullptr;
    QString m_readError;
};
