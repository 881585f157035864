#pragma once

#include <QFont>
#include <QPointer>
#include <QWidget>
#include <array>
#include <map>
#include <memory>

#include "state/test_state.h"

class QPushButton;
class QTableWidget;
class FormLink;
struct TrendChartData;

// The test form: the one window of a running test (dialog template 133). It shows the test
// parameters, the channel table, the record history of the selected channel and its
// current trend chart, and its buttons drive the test.
class Testclass : public QWidget {
    Q_OBJECT

  public:
    explicit Testclass(QWidget* parent = nullptr);
    ~Testclass() override;

    // Builds the tables, writes the fields and opens the link (the form's first update).
    void OnInitialUpdate();
    // A form that only shows a test of the archive: its first update opens no port and leaves
    // "设备初试化" and "开始实验" disabled, and it closes without the exit password. Set
    // before the first update.
    void setViewOnly(bool viewOnly) { m_viewOnly = viewOnly; }
    bool viewOnly() const { return m_viewOnly; }

    // The control with design id `id`, or null.
    QWidget* item(int id) const;
    // Field, button and channel-table access on the GUI thread. The link threads use the
    // same through link(), which carries the call over to the GUI thread.
    QString itemTextOnGui(int id) const;
    void setItemTextOnGui(int id, const QString& text);
    void setItemEnabledOnGui(int id, bool enabled);
    QString channelCellOnGui(int row, int column) const;
    void setChannelCellOnGui(int row, int column, const QString& text);
    // Text of a history cell of channel slot `slot`; empty for a row that does not exist.
    QString historyCell(int slot, int row, int column) const;
    int historyRowCount(int slot) const;
    // Appends a row to the history list of channel slot `slot` and shows it.
    void appendHistoryRow(int slot, const QString& number, const QString& current,
                          const QString& charge);

    // The form as the link threads see it.
    std::shared_ptr<FormLink> link() const { return m_link; }
    bool started() const;

    // Run control.
    void OnDeviceInit();
    void OnStartTest();
    // The start branch of "开始实验": the cycle, the channel states, the start command and
    // the timers (GUI thread).
    void StartRunningOnGui();
    void StopTest();
    void FinishTest(bool sendStop, const QString& picturePrompt);
    // One record now, from what the form shows.
    void OnRecordSample();
    // WM_RECORD_SAMPLE: the record, once every reading and status the link produced before
    // the tick is shown.
    void OnRecordTick();
    // A channel poll has left its readings in the channel table.
    void OnChannelPollDone();

    // Run control helpers (GUI thread): the status word of every channel in use, and the
    // buttons 1024 ... 1028 that a running test disables.
    void setChannelStatusOnGui(const QString& word);
    void setSaveButtonsEnabledOnGui(bool enabled);
    // Sets g_bWorkerRun, gives the cycle a new stop event and starts it.
    void startCommandCycleOnGui();

    // Exports.
    void OnSaveText();
    void OnSaveChart();
    void OnSaveExcel();

    // Menu commands handled by the form.
    void OnCloseTest();
    // Before the window goes (关闭, or the program ending): while the archive cannot be written
    // and records of the window's test are not in it, asks whether to export them first; false
    // keeps the window, its save buttons there. True at once when nothing is missing.
    bool OfferExportBeforeClosing();
    void OnUserManagement();
    void OnTechSupport();
    void OnCommPort();

    // Channel selection and the chart.
    void SelectChannel();
    void DrawTrendSegment(const QString& currentText);
    // The chart frame's rectangle in the form's coordinates.
    QRect chartFrameRect() const;
    // What the chart frame shows now: the shown channel's title, records and interval.
    TrendChartData trendChartData() const;

    // Members of the design.
    QPushButton* m_btnStart = nullptr;                        // control 1085
    int m_nChannel = -1;                                      // selected channel index (0-8)
    QTableWidget* m_listChannels = nullptr;                   // channel table, id 3000
    std::array<QTableWidget*, MAX_CHANNELS> m_listHistory{};  // lists 0-5 exist
    uint8_t m_nShownHistory = 0;                              // index of the visible history list
    QFont m_fontTable;                                        // 18 px Song
    QFont m_fontHistory;                                      // 15 px Song
    int m_nGridShift = 0;                                     // chart grid shift, always 0
    uint8_t m_nCurChannel = 1;                                // channel shown (1-based)
    uint8_t m_nCurRow = 0;                                    // its table row

    // The table's notifications (also driven by tests): the current row moved to `row`
    // (click or keyboard), and a click anywhere in the table.
    void onChannelTableItemChanged(int row);
    void onChannelTableClicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls();
    void buildChannelTable();
    void buildHistoryLists();
    void connectChannelTable();
    // Marks row m_nCurRow selected and focused.
    void reselectCurrentRow();
    // The link's part of the first update and of the teardown.
    void OpenLinkOnInitialUpdate();
    void ClosePortOnTeardown();

    std::shared_ptr<FormLink> m_link;
    std::map<int, QWidget*> m_items;
    bool m_tornDown = false;
    bool m_viewOnly = false;

    friend class FormLink;
};

// The one test form, from its initialisation on (GUI thread only).
extern QPointer<Testclass> g_pTestView;
