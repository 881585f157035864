// The history window over an archive of made-up tests: the list, its order, sorting and
// filter, a test opened in view mode, the CSV export and deletion.

#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>

#include "accounts/login_dialog.h"
#include "app/child_frame.h"
#include "app/grading_dialog.h"
#include "archive/test_lock.h"
#include "history/delete_password_dialog.h"
#include "history/result_panel.h"
#include "history/viewed_test.h"
#include "history_fixture.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"

namespace {

using archive::TestState;
using M = TestListModel;

// Three tests: on 2026-12-9 (9 records), 2026-12-10 (10 records, channel 6 off, 95 mm) and
// 2026-11-30 (2 records, paused when its window was closed).
std::vector<MadeTest> ThreeTests() {
    MadeTest a;
    a.date = "2026-12-9";
    a.start = "08:00:00";
    a.records = 9;
    MadeTest b;
    b.date = "2026-12-10";
    b.start = "09:30:00";
    b.tester = "李四";
    b.organisation = "交通科学研究院";
    b.records = 10;
    b.diameter = 95;
    b.chargeBase = 4500;
    b.off[5] = 1;
    b.end = TestState::FinishedByInstrument;
    MadeTest c;
    c.date = "2026-11-30";
    c.start = "14:00:00";
    c.tester = "张三";
    c.organisation = "检测中心";
    c.records = 2;
    c.chargeBase = 50;
    c.end = TestState::Paused;
    return {a, b, c};
}

class HistoryWindowTest : public HistoryFixture {
  protected:
    void SetUp() override {
        HistoryFixture::SetUp();
        start(ThreeTests());
    }
    const MadeTest& dec9() const { return m_tests[0]; }
    const MadeTest& dec10() const { return m_tests[1]; }
    const MadeTest& nov30() const { return m_tests[2]; }
};

}  // namespace

TEST_F(HistoryWindowTest, TheMenuItemFollowsNewTestAndOpensOneWindow) {
    QMenu* menu = nullptr;
    for (QAction* a : frame()->menuBar()->actions())
        if (a->text() == "实验(&E)") menu = a->menu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 5);
    EXPECT_EQ(menu->actions()[0]->text(), "新建实验");
    EXPECT_EQ(menu->actions()[1]->text(), "历史实验");
    EXPECT_EQ(menu->actions()[1]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_H));

    HistoryWindow* w = history();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isModal());
    EXPECT_EQ(w->parentWidget(), frame());
    EXPECT_EQ(history(), w);  // the same window again
    EXPECT_EQ(w->statusText(), "共 3 个实验");
    // Every field has its label; the list takes focus from the keyboard.
    EXPECT_NE(w->filterEdit()->accessibleName(), "");
    EXPECT_NE(w->view()->focusPolicy(), Qt::NoFocus);
}

TEST_F(HistoryWindowTest, ListsEveryTestNewestFirstWithItsStateAndResult) {
    HistoryWindow* w = history();
    EXPECT_EQ(column(w, M::Date), (QStringList{"2026-12-10", "2026-12-9", "2026-11-30"}));
    EXPECT_EQ(column(w, M::StartTime), (QStringList{"09:30:00", "08:00:00", "14:00:00"}));
    EXPECT_EQ(column(w, M::Tester), (QStringList{"李四", "王建国", "张三"}));
    EXPECT_EQ(column(w, M::RecordCount), (QStringList{"10", "9", "2"}));
    EXPECT_EQ(column(w, M::TestMinutes), (QStringList{"360", "360", "360"}));
    EXPECT_EQ(column(w, M::State), (QStringList{"仪器停止", "完成", "中断"}));
    EXPECT_EQ(column(w, M::chargeColumn(0)), (QStringList{"4500.0", "1000.0", "50.0"}));
    EXPECT_EQ(column(w, M::chargeColumn(5)), (QStringList{"-", "1500.0", "550.0"}));

    // 1000 C at 100 mm: 902.5, rounded to 903; 1200 C: 1083. At 95 mm Qs is Q.
    EXPECT_EQ(column(w, M::resultColumn(0)), (QStringList{"4500 高", "903 很低", "45 可忽略"}));
    EXPECT_EQ(column(w, M::resultColumn(2)), (QStringList{"4700 高", "1083 低", "226 很低"}));
    EXPECT_EQ(column(w, M::resultColumn(5)), (QStringList{"-", "1354 低", "496 很低"}));
    // The groups of three: on 2026-12-10 channel 6 is off, so its second group has two
    // specimens (marked); on 2026-11-30 the Qs 45, 135, 226 lie more than 15 % either side of
    // the median, which is taken.
    EXPECT_EQ(column(w, M::groupColumn(0)), (QStringList{"4600 高", "993 很低", "135 很低"}));
    EXPECT_EQ(column(w, M::groupColumn(1)), (QStringList{"4850* 高", "1264 低", "406 很低"}));
    EXPECT_EQ(w->model()->index(2, M::groupColumn(0)).data(Qt::ToolTipRole).toString(),
              "两个试件与中间值相差超过15%，取中间值");
    EXPECT_TRUE(
        w->model()->headerData(M::groupColumn(1), Qt::Horizontal).toString().startsWith("结果"));
    // In the durability grades once the lab chose them.
    w->model()->setGradingScheme(GradingScheme::DurabilityGrades);
    EXPECT_EQ(column(w, M::groupColumn(1)), (QStringList{"4850* Q-I", "1264 Q-III", "406 Q-V"}));
    EXPECT_EQ(column(w, M::resultColumn(5)), (QStringList{"-", "1354 Q-III", "496 Q-V"}));
}

TEST_F(HistoryWindowTest, SortsNumbersAsNumbersAndDatesAsDates) {
    HistoryWindow* w = history();
    w->view()->sortByColumn(M::RecordCount, Qt::AscendingOrder);
    EXPECT_EQ(column(w, M::RecordCount), (QStringList{"2", "9", "10"}));
    w->view()->sortByColumn(M::Date, Qt::AscendingOrder);
    EXPECT_EQ(column(w, M::Date), (QStringList{"2026-11-30", "2026-12-9", "2026-12-10"}));
    w->view()->sortByColumn(M::StartTime, Qt::DescendingOrder);
    EXPECT_EQ(column(w, M::StartTime), (QStringList{"14:00:00", "09:30:00", "08:00:00"}));
    w->view()->sortByColumn(M::chargeColumn(0), Qt::AscendingOrder);
    EXPECT_EQ(column(w, M::chargeColumn(0)), (QStringList{"50.0", "1000.0", "4500.0"}));
    // A channel that is off has no value: it comes first.
    w->view()->sortByColumn(M::resultColumn(5), Qt::AscendingOrder);
    EXPECT_EQ(column(w, M::resultColumn(5)), (QStringList{"-", "496 很低", "1354 低"}));
    // By the group value, not by the text: "993" would come before "4600".
    w->view()->sortByColumn(M::groupColumn(0), Qt::DescendingOrder);
    EXPECT_EQ(column(w, M::groupColumn(0)), (QStringList{"4600 高", "993 很低", "135 很低"}));
}

TEST_F(HistoryWindowTest, TheFilterMatchesTesterOrganisationOrDate) {
    HistoryWindow* w = history();
    auto shown = [&](const QString& text) {
        w->filterEdit()->setText(text);
        return column(w, M::Date);
    };
    EXPECT_EQ(shown("李"), QStringList{"2026-12-10"});
    EXPECT_EQ(shown("检测"), (QStringList{"2026-12-9", "2026-11-30"}));
    EXPECT_EQ(shown("2026-12-9"), QStringList{"2026-12-9"});
    EXPECT_EQ(shown("2026-12-09"), QStringList{"2026-12-9"});  // with zeros too
    EXPECT_EQ(shown("2026-12"), (QStringList{"2026-12-10", "2026-12-9"}));
    EXPECT_EQ(w->statusText(), "2 / 3 个实验");
    EXPECT_EQ(shown("没有这个人"), QStringList{});
    EXPECT_FALSE(w->selectedTest());
    EXPECT_EQ(shown(""), (QStringList{"2026-12-10", "2026-12-9", "2026-11-30"}));
}

TEST_F(HistoryWindowTest, AnOpenedTestIsShownAsItWasWithNothingRunning) {
    Testclass* f = view(dec9().uid);
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->viewOnly());
    EXPECT_FALSE(frame()->historyWindow()->isVisible());
    EXPECT_EQ(frame()->viewedTestId(), idOf(dec9().uid));
    EXPECT_EQ(m_boxes.count(), 0) << m_boxes.texts().join(' ').toStdString();  // no port

    const archive::ArchivedTest test = *reader()->loadTest(idOf(dec9().uid));
    EXPECT_EQ(f->itemTextOnGui(FormId::TestDate), "2026-12-9");
    EXPECT_EQ(f->itemTextOnGui(FormId::StartTime), "08:00:00");
    EXPECT_EQ(f->itemTextOnGui(FormId::Tester), "王建国");
    EXPECT_EQ(f->itemTextOnGui(FormId::Diameter), "100");
    EXPECT_EQ(f->itemTextOnGui(FormId::RecordInterval), "5");
    EXPECT_EQ(f->itemTextOnGui(FormId::Voltage), "59.9");  // the last reading
    EXPECT_EQ(f->itemTextOnGui(FormId::RemainingMinutes), "完成");
    EXPECT_EQ(f->itemTextOnGui(FormId::CommStatus), "");
    for (int slot = 0; slot < 6; ++slot) {
        ASSERT_EQ(f->historyRowCount(slot), 9) << slot;
        for (int r = 0; r < 9; ++r) {
            EXPECT_EQ(f->historyCell(slot, r, HistoryColumn::RecordNo), QString::number(r + 1));
            EXPECT_EQ(f->historyCell(slot, r, HistoryColumn::Current),
                      test.records[r].current[slot]);
            EXPECT_EQ(f->historyCell(slot, r, HistoryColumn::Charge), test.records[r].charge[slot]);
        }
        EXPECT_EQ(f->channelCellOnGui(slot, ChannelColumn::Charge), test.records[8].charge[slot]);
        EXPECT_EQ(f->channelCellOnGui(slot, ChannelColumn::Status), "完成");
        EXPECT_EQ(f->channelCellOnGui(slot, ChannelColumn::SpecimenNo),
                  QString("S%1").arg(slot + 1));
    }
    EXPECT_FALSE(f->item(FormId::InitButton)->isEnabled());
    EXPECT_FALSE(f->item(FormId::StartButton)->isEnabled());
    for (int id : {FormId::SaveText, FormId::SaveChart, FormId::SaveExcel, FormId::CloseTest})
        EXPECT_TRUE(f->item(id)->isEnabled()) << id;
    EXPECT_FALSE(frame()->command(CMainFrame::ID_COMM_PORT)->isEnabled());
    EXPECT_TRUE(frame()->command(CMainFrame::ID_CLOSE_TEST)->isEnabled());
    EXPECT_EQ(frame()->m_pTestFrame->windowTitle(), "历史实验 2026-12-9 08:00:00（只读）");

    // The result below the chart.
    ResultPanel* panel = ResultPanelOf(*f);
    ASSERT_NE(panel, nullptr);
    EXPECT_GT(panel->geometry().top(), f->chartFrameRect().bottom());
    EXPECT_GE(f->minimumHeight(), panel->geometry().bottom());
    EXPECT_EQ(panel->cell(ResultPanel::ChargeRow, 0), "1000.0");
    EXPECT_EQ(panel->cell(ResultPanel::AdjustedRow, 0), "903");
    EXPECT_EQ(panel->cell(ResultPanel::GradeRow, 0), "很低");
    EXPECT_EQ(panel->cell(ResultPanel::GradeRow, 2), "低");
    EXPECT_EQ(panel->cell(ResultPanel::AdjustedRow, ResultPanel::FirstGroupColumn), "993");
    EXPECT_EQ(panel->cell(ResultPanel::GradeRow, ResultPanel::FirstGroupColumn), "很低");
    EXPECT_EQ(panel->cell(ResultPanel::AdjustedRow, ResultPanel::FirstGroupColumn + 1), "1264");
    EXPECT_EQ(panel->rulesText(), "第1组：三个试件的平均值；第2组：三个试件的平均值");

    // "关    闭" without the exit password; the archive keeps the test as it was.
    {
        ModalScript script;  // any dialog would be unexpected
        static_cast<QPushButton*>(f->item(FormId::CloseTest))->click();
        ASSERT_TRUE(PumpUntil([&] { return form() == nullptr; }));
        EXPECT_EQ(script.seen(), QStringList{});
    }
    EXPECT_FALSE(frame()->viewedTestId());
    EXPECT_TRUE(frame()->command(CMainFrame::ID_COMM_PORT)->isEnabled() == false);
    const archive::ArchivedTest after = *reader()->loadTest(idOf(dec9().uid));
    EXPECT_EQ(after.states, test.states);
    EXPECT_EQ(after.records, test.records);
    EXPECT_EQ(reader()->listTests().size(), 3u);
}

TEST_F(HistoryWindowTest, AChannelOffAndAnUnfinishedTestShowAsTheyWere) {
    Testclass* f = view(dec10().uid);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->historyRowCount(0), 10);
    EXPECT_EQ(f->channelCellOnGui(5, ChannelColumn::Status), "停用");
    ResultPanel* panel = ResultPanelOf(*f);
    EXPECT_EQ(panel->cell(ResultPanel::ChargeRow, 5), "-");
    EXPECT_EQ(panel->cell(ResultPanel::AdjustedRow, 5), "");
    EXPECT_EQ(panel->cell(ResultPanel::AdjustedRow, ResultPanel::FirstGroupColumn + 1), "4850*");
    EXPECT_EQ(panel->rulesText(), "第1组：三个试件的平均值；第2组：仅2个试件，取其平均值");
    f->OnCloseTest();
    ASSERT_TRUE(PumpUntil([&] { return form() == nullptr; }));

    f = view(nov30().uid);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->channelCellOnGui(0, ChannelColumn::Status), "停止");
    EXPECT_EQ(f->itemTextOnGui(FormId::RemainingMinutes), "350");
}

TEST_F(HistoryWindowTest, TheGradingSchemeChosenInTheSettingsIsKeptAndShownEverywhere) {
    HistoryWindow* w = history();
    {
        ModalScript script;
        script.then<GradingDialog>([](GradingDialog* d) {
            EXPECT_EQ(d->schemeBox()->currentText(), "氯离子渗透性等级");
            d->schemeBox()->setCurrentIndex(1);
            d->accept();
        });
        frame()->command(CMainFrame::ID_GRADING)->trigger();
        EXPECT_EQ(script.seen(), QStringList{"GradingDialog"});
    }
    EXPECT_EQ(StoredGradingScheme(), GradingScheme::DurabilityGrades);
    EXPECT_EQ(column(w, M::groupColumn(0)), (QStringList{"4600 Q-I", "993 Q-IV", "135 Q-V"}));
    Testclass* f = view(dec9().uid);
    ASSERT_NE(f, nullptr);
    ResultPanel* panel = ResultPanelOf(*f);
    EXPECT_EQ(panel->table()->verticalHeaderItem(ResultPanel::GradeRow)->text(),
              "电通量耐久性等级");
    EXPECT_EQ(panel->cell(ResultPanel::GradeRow, 0), "Q-IV");

    // Changed back while the test is on view (the list hidden behind it): the open panel and
    // the list show the new grades at once.
    {
        ModalScript script;
        script.then<GradingDialog>([](GradingDialog* d) {
            d->schemeBox()->setCurrentIndex(0);
            d->accept();
        });
        frame()->command(CMainFrame::ID_GRADING)->trigger();
    }
    EXPECT_EQ(panel->table()->verticalHeaderItem(ResultPanel::GradeRow)->text(),
              "氯离子渗透性等级");
    EXPECT_EQ(panel->cell(ResultPanel::GradeRow, 0), "很低");
    EXPECT_EQ(column(w, M::groupColumn(0)), (QStringList{"4600 高", "993 很低", "135 很低"}));
}

TEST_F(HistoryWindowTest, EnterOpensTheSelectedTest) {
    HistoryWindow* w = history();
    ASSERT_TRUE(w->selectTest(idOf(nov30().uid)));
    w->view()->setFocus();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(w->view(), &enter);
    ASSERT_NE(form(), nullptr);
    EXPECT_EQ(frame()->viewedTestId(), idOf(nov30().uid));
}

TEST_F(HistoryWindowTest, OnlyOneTestWindowAtATime) {
    Testclass* f = view(dec9().uid);
    ASSERT_NE(f, nullptr);
    HistoryWindow* w = history();
    ASSERT_TRUE(w->selectTest(idOf(nov30().uid)));
    w->openSelected();
    EXPECT_EQ(m_boxes.texts(), QStringList{"请先关闭当前的实验窗口，再打开历史实验。"});
    EXPECT_EQ(form(), f);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(frame()->viewedTestId(), idOf(dec9().uid));
}

TEST_F(HistoryWindowTest, TheProgramClosesWithoutThePasswordWhileATestIsViewed) {
    ASSERT_NE(view(dec9().uid), nullptr);
    ModalScript script;
    QPointer<CMainFrame> main = frame();
    EXPECT_TRUE(main->close());
    EXPECT_TRUE(PumpUntil([&] { return main.isNull(); }));
    EXPECT_EQ(script.seen(), QStringList{});
}

TEST_F(HistoryWindowTest, CsvFromTheListAndFromTheViewWindowHoldsEveryPoll) {
    HistoryWindow* w = history();
    ASSERT_TRUE(w->selectTest(idOf(dec9().uid)));
    const QString fromList = m_dir.filePath("列表.csv");
    m_files.answer({fromList});
    w->exportSelected();
    ASSERT_EQ(m_files.requests().size(), 1u);
    EXPECT_EQ(m_files.requests()[0].filter, "*.csv");
    EXPECT_EQ(m_files.requests()[0].proposedName, "2026-12-9_080000");
    const QJsonArray rows = ReadCsvWithPython(fromList);
    ASSERT_EQ(rows.size(), 1 + 9 * 2);
    const std::vector<archive::PollRow> polls = reader()->polls(idOf(dec9().uid));
    ASSERT_EQ(polls.size(), 18u);
    for (int i = 0; i < 18; ++i) {
        const QJsonArray row = rows[i + 1].toArray();
        EXPECT_EQ(row[0].toString(),
                  QDateTime::fromMSecsSinceEpoch(polls[i].atMs).toString("yyyy-MM-dd HH:mm:ss"));
        EXPECT_EQ(row[4].toString() + "(mA)", polls[i].current[0]);
        // Each record comes from the second poll of its pair.
        EXPECT_EQ(row[16].toString(), i % 2 == 1 ? QString::number(i / 2 + 1) : QString()) << i;
    }

    Testclass* f = view(dec9().uid);
    ASSERT_NE(f, nullptr);
    const QString fromView = m_dir.filePath("窗口.csv");
    m_files.answer({fromView});
    ResultPanelOf(*f)->csvButton()->click();
    QFile a(fromList), b(fromView);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), b.readAll());
    EXPECT_EQ(m_boxes.count(), 0) << m_boxes.texts().join(' ').toStdString();
}

TEST_F(HistoryWindowTest, DeletingAsksThenTakesThePasswordAndRemovesTheTestWhole) {
    HistoryWindow* w = history();
    const qint64 id = idOf(nov30().uid);
    ASSERT_TRUE(w->selectTest(id));
    // "否" keeps it.
    m_boxes.answer({MessageBox::No});
    w->deleteSelected();
    EXPECT_EQ(reader()->listTests().size(), 3u);
    ASSERT_EQ(m_boxes.count(), 1);
    EXPECT_EQ(m_boxes.shown()[0].request.buttons, MessageBox::Buttons::YesNo);
    EXPECT_TRUE(m_boxes.texts()[0].contains("2026-11-30 14:00:00"))
        << m_boxes.texts()[0].toStdString();
    m_boxes.clear();

    // Nobody has logged in: the login first, then the password, wrong and then right.
    m_boxes.answer({MessageBox::Yes});
    ModalScript script;
    script
        .then<CLoginDlg>([](CLoginDlg* d) {
            static_cast<QLineEdit*>(d->item(CLoginDlg::IdPassword))->setText("579");
            static_cast<QPushButton*>(d->item(1))->click();
        })
        .then<CDeletePasswordDlg>([](CDeletePasswordDlg* d) {
            static_cast<QLineEdit*>(d->item(CDeletePasswordDlg::IdPassword))->setText("000");
            static_cast<QPushButton*>(d->item(1))->click();
        })
        .then<CDeletePasswordDlg>([](CDeletePasswordDlg* d) {
            static_cast<QLineEdit*>(d->item(CDeletePasswordDlg::IdPassword))->setText("579");
            static_cast<QPushButton*>(d->item(1))->click();
        });
    w->deleteSelected();
    EXPECT_EQ(script.seen(), (QStringList{"CLoginDlg", "CDeletePasswordDlg"}));
    EXPECT_EQ(m_boxes.texts().size(), 2);
    EXPECT_EQ(m_boxes.texts().value(1), "密码错误,请重新输入");

    auto r = reader();
    EXPECT_EQ(r->listTests().size(), 2u);
    EXPECT_FALSE(r->loadTest(id));
    EXPECT_TRUE(r->polls(id).empty());
    EXPECT_EQ(column(w, M::Date), (QStringList{"2026-12-10", "2026-12-9"}));
    EXPECT_EQ(w->statusText(), "共 2 个实验");
}

// A list left open while another program deleted the newest test and started one of its
// own: the new test takes the freed row id. 删除 on the old row deletes nothing.
TEST_F(HistoryWindowTest, AStaleRowNeverDeletesTheTestThatNowHasItsId) {
    HistoryWindow* w = history();
    const qint64 staleId = idOf(nov30().uid);
    ASSERT_TRUE(w->selectTest(staleId));

    QString message;
    ASSERT_TRUE(reader()->deleteTest(nov30().uid, &message)) << message.toStdString();
    MadeTest running;
    running.uid = QStringLiteral("00000000-0000-4000-8000-000000000099");
    running.date = "2026-12-11";
    running.end = TestState::Running;
    std::vector<MadeTest> others{running};
    WriteTests(m_archivePath, others);
    QString unshared;
    const auto lock = archive::TestLock::tryAcquire(m_archivePath, running.uid, &unshared);
    ASSERT_TRUE(lock);
    ASSERT_EQ(idOf(running.uid), staleId) << "the archive gives the freed id out again";

    // Were the row's id taken for the test, the questions would be answered yes.
    m_boxes.answer({MessageBox::Yes});
    ModalScript script;
    script
        .then<CLoginDlg>([](CLoginDlg* d) {
            static_cast<QLineEdit*>(d->item(CLoginDlg::IdPassword))->setText("579");
            static_cast<QPushButton*>(d->item(1))->click();
        })
        .then<CDeletePasswordDlg>([](CDeletePasswordDlg* d) {
            static_cast<QLineEdit*>(d->item(CDeletePasswordDlg::IdPassword))->setText("579");
            static_cast<QPushButton*>(d->item(1))->click();
        });
    w->deleteSelected();
    EXPECT_EQ(script.seen(), QStringList());
    ASSERT_EQ(m_boxes.count(), 1);
    EXPECT_TRUE(m_boxes.texts()[0].contains("已没有这项实验")) << m_boxes.texts()[0].toStdString();
    EXPECT_TRUE(reader()->testOf(running.uid));
    EXPECT_EQ(reader()->listTests().size(), 3u);
    // The list is read again: the old row is gone, the new test is there.
    EXPECT_EQ(column(w, M::Date), (QStringList{"2026-12-11", "2026-12-10", "2026-12-9"}));
}

TEST_F(HistoryWindowTest, ATestThatRunsOrIsViewedIsNotDeleted) {
    HistoryWindow* w = history();
    {
        // Another program runs it: it holds the test's lock.
        const auto lock = archive::TestLock::tryAcquire(m_archivePath, dec10().uid);
        ASSERT_TRUE(lock);
        ASSERT_TRUE(w->selectTest(idOf(dec10().uid)));
        w->deleteSelected();
        ASSERT_EQ(m_boxes.count(), 1);
        EXPECT_TRUE(m_boxes.texts()[0].contains("正在运行")) << m_boxes.texts()[0].toStdString();
    }
    m_boxes.clear();
    ASSERT_NE(view(dec9().uid), nullptr);
    w = history();
    ASSERT_TRUE(w->selectTest(idOf(dec9().uid)));
    w->deleteSelected();
    ASSERT_EQ(m_boxes.count(), 1);
    EXPECT_TRUE(m_boxes.texts()[0].contains("请先关闭实验窗口"))
        << m_boxes.texts()[0].toStdString();
    EXPECT_EQ(reader()->listTests().size(), 3u);
}
