// The history window on the lab server: tests copied there from a bench's archive are listed
// with their bench, open in view mode and export the same bytes as the local copy (the
// report, which the office stamps, the same cells); a server that is stopped or hangs is
// told in one message and the window goes on answering.

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTableView>
#include <functional>
#include <set>

#include "e2e/operator_fixture.h"
#include "history/result_panel.h"
#include "history/server_read.h"
#include "history/test_report_export.h"
#include "history_fixture.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "server/server_inserts.h"
#include "server/server_schema.h"
#include "support/pg_cluster.h"

namespace {

using M = TestListModel;
using Source = HistoryWindow::Source;

// The office stamps the workbooks it writes: they are compared cell for cell.
struct Workbook : OperatorRun {
    using OperatorRun::readWorkbook;
};

QByteArray Bytes(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

class ServerHistory : public HistoryFixture {
  protected:
    static void SetUpTestSuite() {
        s_cluster = new PgCluster;
        ASSERT_TRUE(s_cluster->valid()) << s_cluster->error().toStdString();
        ASSERT_TRUE(s_cluster->start()) << s_cluster->error().toStdString();
    }
    static void TearDownTestSuite() {
        delete s_cluster;
        s_cluster = nullptr;
    }
    void TearDown() override {
        HistoryFixture::TearDown();
        qunsetenv("KIVO_SERVER");
    }

    // A database with the server's schema, which the program is pointed at.
    std::unique_ptr<server::PgConnection> database(const QString& name) {
        EXPECT_TRUE(s_cluster->createDatabase(name));
        qputenv("KIVO_SERVER", s_cluster->uri(name).toUtf8());
        auto db = std::make_unique<server::PgConnection>(
            server::PgConnection::Options{s_cluster->uri(name), {}});
        server::PrepareServerSchema(*db);
        return db;
    }
    // Test `uid` of the local archive copied whole to the server, sent from `bench`.
    void copyToServer(server::PgConnection& db, const QString& uid,
                      const server::BenchIdentity& bench) {
        auto r = reader();
        const qint64 id = idOf(uid);
        server::InsertWholeTest(db, server::InsertBench(db, bench), *r->loadTest(id), r->polls(id));
    }
    // The window's list from `source`, once read.
    HistoryWindow* listFrom(Source source) {
        HistoryWindow* w = history();
        w->setSource(source);
        EXPECT_TRUE(PumpUntil([&] { return !w->serverRead()->busy(); }, 20000));
        return w;
    }
    // Opens test `uid` from the list, saves the text data, the charts and the CSV of the
    // view window as `<run>.bln`, `<run>通道N.bmp`, `<run>.csv`, and closes it.
    void saveViewed(HistoryWindow* w, const QString& uid, const QString& run) {
        ASSERT_TRUE(w->selectTest(w->model()->test(w->model()->rowOfUid(uid)).id));
        w->openSelected();
        ASSERT_TRUE(PumpUntil([&] { return form() != nullptr; }, 20000));
        Testclass* f = form();
        ASSERT_TRUE(f->viewOnly());
        m_files.answer({m_dir.filePath(run + ".bln")});
        static_cast<QPushButton*>(f->item(FormId::SaveText))->click();
        m_files.answer({m_dir.filePath(run + ".bmp")});
        static_cast<QPushButton*>(f->item(FormId::SaveChart))->click();
        m_files.answer({m_dir.filePath(run + ".csv")});
        ResultPanelOf(*f)->csvButton()->click();
        // A server test's report is made on its bench: its buttons say so instead of nothing.
        for (QPushButton* b :
             {ResultPanelOf(*f)->reportButton(), ResultPanelOf(*f)->printButton()}) {
            EXPECT_EQ(b->isEnabled(), run != "server");
            EXPECT_EQ(b->toolTip() == ServerTestReportText(), run == "server");
        }
        if (m_office) {
            m_files.answer({m_dir.filePath(run + ".xls")});
            static_cast<QPushButton*>(f->item(FormId::SaveExcel))->click();
        }
        f->OnCloseTest();
        ASSERT_TRUE(PumpUntil([&] { return form() == nullptr; }));
    }

    static PgCluster* s_cluster;
    bool m_office = false;  // the report template is there: the report can be written
};
PgCluster* ServerHistory::s_cluster = nullptr;

const server::BenchIdentity kBench1{"LAB-PC-1", "COM1", "/dev/ttyUSB0", "", "1.0"};
const server::BenchIdentity kBench2{"LAB-PC-2", "COM3", "/dev/ttyS2", "", "1.0"};

}  // namespace

// Three tests of a bench's archive on the server, two from one bench and one from another:
// the server's list shows what the local list shows, plus each test's bench, and filters by
// bench; a test opened from the server exports the very bytes its local copy exports.
TEST_F(ServerHistory, ATestFromTheServerShowsAndExportsAsItsLocalCopy) {
    MadeTest a;
    a.records = 9;
    MadeTest b;
    b.date = "2026-12-10";
    b.tester = "李四";
    b.records = 12;
    b.diameter = 95;
    b.chargeBase = 4500;
    b.off[4] = 1;
    b.end = archive::TestState::FinishedByInstrument;
    MadeTest c;
    c.date = "2026-11-30";
    c.records = 2;
    c.end = archive::TestState::Paused;
#ifdef KIVO_OFFICE_TEMPLATE
    m_office = QFile::copy(QStringLiteral(KIVO_BINARY_DIR "/src/模板.xls"),
                           m_dir.filePath(QStringLiteral("模板.xls")));
#endif
    start({a, b, c});
    auto db = database("copies");
    copyToServer(*db, m_tests[0].uid, kBench1);
    copyToServer(*db, m_tests[1].uid, kBench2);
    copyToServer(*db, m_tests[1].uid, kBench2);  // sent twice, stored once
    // A role that may only insert and select: the server's summaries follow its rows too.
    ASSERT_TRUE(s_cluster->createRole("bench", "pw"));
    ASSERT_EQ(
        s_cluster->sql("GRANT SELECT, INSERT ON ALL TABLES IN SCHEMA public TO bench", "copies"),
        "");
    server::PgConnection bench({s_cluster->uri("copies", "bench"), "pw"});
    copyToServer(bench, m_tests[2].uid, kBench1);

    HistoryWindow* w = listFrom(Source::Archive);
    std::vector<QStringList> local;
    for (int c = 0; c < M::Bench; ++c) local.push_back(column(w, c));
    EXPECT_TRUE(w->view()->isColumnHidden(M::Bench));
    saveViewed(w, m_tests[1].uid, "local");

    // A row the server keeps apart for the first test: counted while its bench is listed.
    ASSERT_EQ(s_cluster->sql(QStringLiteral("INSERT INTO conflicts (table_name, row_key, test_uid, "
                                            "held, arrived) VALUES ('polls', '%1 1', '%1', "
                                            "'{}', '{\"seq\": 1}')")
                                 .arg(m_tests[0].uid),
                             "copies"),
              "");
    // And an audit event of the second bench's: counted while that bench is listed.
    ASSERT_EQ(s_cluster->sql(QStringLiteral(
                                 "INSERT INTO audit_events (uid, bench_id, at_ms, user_name, "
                                 "action, detail) SELECT 'e1', bench_id, 0, 'admin', 'login', '' "
                                 "FROM tests WHERE uid = '%1'; "
                                 "INSERT INTO conflicts (table_name, row_key, held, arrived) "
                                 "VALUES ('audit_events', 'e1', '{}', '{\"at_ms\": 1}')")
                                 .arg(m_tests[1].uid),
                             "copies"),
              "");
    w = listFrom(Source::Server);
    EXPECT_EQ(w->statusText(), "共 3 个实验，2 条数据与服务器不一致");
    EXPECT_FALSE(w->view()->isColumnHidden(M::Bench));
    for (int c = 0; c < M::Bench; ++c) EXPECT_EQ(column(w, c), local[size_t(c)]) << c;
    EXPECT_EQ(column(w, M::Bench),
              (QStringList{"LAB-PC-2 COM3（/dev/ttyS2）", "LAB-PC-1 COM1（/dev/ttyUSB0）",
                           "LAB-PC-1 COM1（/dev/ttyUSB0）"}));
    ASSERT_EQ(w->benchBox()->count(), 3);
    EXPECT_EQ(w->benchBox()->itemText(0), "全部实验台");
    w->benchBox()->setCurrentIndex(2);
    emit w->benchBox()->activated(2);
    ASSERT_TRUE(PumpUntil([&] { return !w->serverRead()->busy(); }, 20000));
    EXPECT_EQ(column(w, M::Date), (QStringList{"2026-12-10"}));
    EXPECT_EQ(w->statusText(), "共 1 个实验，1 条数据与服务器不一致");
    w->benchBox()->setCurrentIndex(0);
    emit w->benchBox()->activated(0);
    ASSERT_TRUE(PumpUntil([&] { return !w->serverRead()->busy(); }, 20000));

    saveViewed(w, m_tests[1].uid, "server");
    for (const QString& file : {QStringLiteral("%1.bln"), QStringLiteral("%1.csv")}) {
        EXPECT_FALSE(Bytes(m_dir.filePath(file.arg("local"))).isEmpty()) << file.toStdString();
        EXPECT_TRUE(Bytes(m_dir.filePath(file.arg("server"))) ==
                    Bytes(m_dir.filePath(file.arg("local"))))
            << file.toStdString();
    }
    if (m_office) {
        const QJsonObject local = Workbook::readWorkbook(m_dir.filePath("local.xls"));
        EXPECT_FALSE(local.isEmpty());
        EXPECT_EQ(Workbook::readWorkbook(m_dir.filePath("server.xls")), local);
    }
    for (int channel = 1; channel <= 9; ++channel) {
        const QString name = QStringLiteral("%1通道%2.bmp");
        const QByteArray bmp = Bytes(m_dir.filePath(name.arg("local").arg(channel)));
        EXPECT_GT(bmp.size(), 1000);
        EXPECT_TRUE(Bytes(m_dir.filePath(name.arg("server").arg(channel))) == bmp) << channel;
    }

    // The list's "导出CSV" reads the server too.
    w = history();
    ASSERT_TRUE(w->selectTest(w->model()->test(0).id));
    m_files.answer({m_dir.filePath("list.csv")});
    w->exportSelected();
    ASSERT_TRUE(PumpUntil([&] { return QFile::exists(m_dir.filePath("list.csv")); }, 20000));
    EXPECT_TRUE(Bytes(m_dir.filePath("list.csv")) == Bytes(m_dir.filePath("local.csv")));
    EXPECT_EQ(m_boxes.count(), 0) << m_boxes.texts().join(' ').toStdString();

    // The paused test's last record replaced (sent again with a higher revision): the list
    // shows the new charges and the same record count.
    archive::RecordRow replaced = reader()->loadTest(idOf(m_tests[2].uid))->records.back();
    replaced.charge[0] = "999.9(C)";
    server::InsertRecords(bench, m_tests[2].uid, 2, {replaced});
    w->refresh();
    ASSERT_TRUE(PumpUntil([&] { return !w->serverRead()->busy(); }, 20000));
    const int row = w->model()->rowOfUid(m_tests[2].uid);
    ASSERT_GE(row, 0);
    EXPECT_EQ(w->model()->test(row).lastCharge[0], "999.9(C)");
    EXPECT_EQ(w->model()->test(row).recordCount, 2);
}

// A read held up by the server shows that it waits, can be given up (the server stops the
// statement) and never stops the window; a stopped server is one message, in the list and
// when a test is opened; closing the window while a read waits is safe.
TEST_F(ServerHistory, AHungOrStoppedServerIsToldAndTheWindowGoesOn) {
    start({MadeTest{}});
    auto db = database("slow");
    copyToServer(*db, m_tests[0].uid, kBench1);
    server::PgConnection holder({s_cluster->uri("slow"), {}});
    holder.execScript("BEGIN; LOCK TABLE tests, test_summaries IN ACCESS EXCLUSIVE MODE");

    HistoryWindow* w = history();
    w->setSource(Source::Server);
    ASSERT_TRUE(w->serverRead()->busy());
    EXPECT_EQ(w->statusText(), "正在读取实验室服务器…");
    EXPECT_TRUE(w->cancelButton()->isEnabled());
    // The window answers while the read waits: the filter works at once.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 700) {
        PumpOnce();
        w->filterEdit()->setText(QString::number(clock.elapsed()));
    }
    EXPECT_TRUE(w->serverRead()->busy());
    w->filterEdit()->clear();
    w->cancelButton()->click();
    EXPECT_FALSE(w->serverRead()->busy());
    EXPECT_EQ(w->statusText(), "已取消读取实验室服务器");
    EXPECT_FALSE(w->cancelButton()->isEnabled());
    // The server was told to stop the statement.
    EXPECT_TRUE(PumpUntil([&] {
        return db->exec("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'")
                   .integer(0, 0) == 0;
    }));

    // Closed while the read waits.
    w->refresh();
    ASSERT_TRUE(w->serverRead()->busy());
    delete w;
    PumpOnce();
    holder.execScript("ROLLBACK");

    w = listFrom(Source::Server);
    ASSERT_EQ(w->model()->rowCount(), 1);
    ASSERT_TRUE(w->selectTest(w->model()->test(0).id));
    ASSERT_TRUE(s_cluster->stop());
    w->openSelected();
    ASSERT_TRUE(PumpUntil([&] { return m_boxes.count() > 0; }, 20000));
    EXPECT_EQ(m_boxes.texts(), QStringList{"无法读取实验室服务器：服务器没有运行"});
    EXPECT_EQ(form(), nullptr);
    w->refresh();
    ASSERT_TRUE(PumpUntil([&] { return !w->serverRead()->busy(); }, 20000));
    EXPECT_EQ(w->statusText(), "无法读取实验室服务器：服务器没有运行");
    EXPECT_EQ(w->model()->rowCount(), 0);
    ASSERT_TRUE(s_cluster->start());

    // Back to the bench's own archive: its list as ever.
    w->setSource(Source::Archive);
    EXPECT_EQ(w->model()->rowCount(), 1);
    EXPECT_EQ(w->statusText(), "共 1 个实验");
}

// A server with more tests than a page: the list comes 500 at a time, newest first, "更多"
// adding the next ones; the filter text and the bench are applied by the server (a date found
// with and without its zeros, a typed "%" taken as it stands); a database without the
// program's tables is listed as empty and left without them.
TEST_F(ServerHistory, TheServersListComesAPageAtATimeAndTheServerFilters) {
    start({MadeTest{}});
    auto db = database("many");
    db->execScript(R"(
INSERT INTO benches (host_name, port_name, port_device, usb_serial, program_version)
  SELECT 'LAB-PC-' || b, 'COM1', '/dev/ttyUSB0', '', '1.0' FROM generate_series(1, 3) b;
INSERT INTO tests SELECT
  '00000000-0000-4000-8000-' || lpad(i::text, 12, '0'),
  (SELECT id FROM benches ORDER BY id OFFSET i % 3 LIMIT 1),
  to_char(d, 'YYYY-FMMM-FMDD'), to_char(d, 'HH24:MI:SS'),
  (extract(epoch FROM d) * 1000)::bigint, 'admin', 0, 'COM1', '/dev/ttyUSB0', '60', 360, 30,
  100, '测试人员' || (i % 37), '检测中心', 'S1', 'S2', 'S3', 'S4', 'S5', 'S6', 'S7', 'S8', 'S9',
  0, 0, 0, 0, 0, 0, '1.0', now()
  FROM generate_series(1, 1203) i,
       LATERAL (SELECT timestamp '2026-12-08 08:00' - i * interval '2 hours' AS d) t;
)");
    HistoryWindow* w = listFrom(Source::Server);
    auto uids = [&] {
        QStringList list;
        for (int row = 0; row < w->model()->rowCount(); ++row) list << w->model()->test(row).uid;
        return list;
    };
    // Waits for the read that `act` starts to end.
    int reads = 0;
    QObject::connect(w->serverRead(), &ServerRead::busyChanged, w, [&](bool busy) {
        if (!busy) ++reads;
    });
    auto after = [&](const std::function<void()>& act) {
        const int before = reads;
        act();
        return PumpUntil([&] { return reads > before && !w->serverRead()->busy(); }, 20000);
    };
    EXPECT_EQ(w->model()->rowCount(), 500);
    EXPECT_EQ(w->statusText(), "已列出最新的 500 个实验，“更多”列出后面的");
    EXPECT_EQ(uids().front(), "00000000-0000-4000-8000-000000000001");
    ASSERT_TRUE(w->moreButton()->isEnabled());
    ASSERT_TRUE(after([&] { w->moreButton()->click(); }));
    EXPECT_EQ(w->model()->rowCount(), 1000);
    ASSERT_TRUE(after([&] { w->moreButton()->click(); }));
    EXPECT_EQ(w->statusText(), "共 1203 个实验");
    EXPECT_FALSE(w->moreButton()->isEnabled());
    QStringList expected;
    for (int i = 1; i <= 1203; ++i)
        expected << QStringLiteral("00000000-0000-4000-8000-%1").arg(i, 12, 10, QChar('0'));
    EXPECT_EQ(uids(), expected);  // newest first, each once
    std::set<qint64> ids;
    for (int row = 0; row < w->model()->rowCount(); ++row) ids.insert(w->model()->test(row).id);
    EXPECT_EQ(ids.size(), 1203u);

    const struct {
        const char* typed;
        int found;
    } searches[] = {{"测试人员7", 33}, {"2026-12-08", 4}, {"2026-12-8", 4}, {"%", 0}, {"", 500}};
    for (const auto& search : searches) {
        ASSERT_TRUE(after([&] { w->filterEdit()->setText(QString::fromUtf8(search.typed)); }))
            << search.typed;
        EXPECT_EQ(w->model()->rowCount(), search.found) << search.typed;
    }
    // 更多 pressed before a search just typed has run runs that search, from its first page.
    ASSERT_TRUE(after([&] {
        w->filterEdit()->setText("测试人员7");
        w->moreButton()->click();
    }));
    EXPECT_EQ(w->model()->rowCount(), 33);
    EXPECT_EQ(w->statusText(), "共 33 个实验");
    ASSERT_TRUE(after([&] { w->filterEdit()->clear(); }));
    ASSERT_EQ(w->benchBox()->count(), 4);
    ASSERT_TRUE(after([&] {
        w->benchBox()->setCurrentIndex(2);
        emit w->benchBox()->activated(2);
    }));
    const QStringList benches = column(w, M::Bench);
    EXPECT_EQ(QSet<QString>(benches.begin(), benches.end()),
              QSet<QString>{w->benchBox()->itemText(2)});
    ASSERT_TRUE(after([&] { w->filterEdit()->setText("测试人员7"); }));
    EXPECT_EQ(w->statusText(), "共 11 个实验");

    // An empty database: nothing listed, nothing made there.
    ASSERT_TRUE(s_cluster->createDatabase("empty"));
    qputenv("KIVO_SERVER", s_cluster->uri("empty").toUtf8());
    w->filterEdit()->clear();
    w->setSource(Source::Archive);
    w = listFrom(Source::Server);
    EXPECT_EQ(w->statusText(), "共 0 个实验");
    EXPECT_EQ(s_cluster->query("SELECT count(*) FROM pg_class WHERE relnamespace = "
                               "'public'::regnamespace",
                               "empty"),
              "0");
}
