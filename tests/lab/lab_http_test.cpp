// The web service as a browser and a client of the lab's reports meet it: the real kivo-lab
// program on a private cluster filled through the bench's sender.

#include <QDateTime>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "export/poll_csv.h"
#include "lab/html.h"
#include "lab/lab_reads.h"
#include "lab/web_setup.h"
#include "lab_fixture.h"
#include "report/report_output.h"
#include "server/server_schema.h"

namespace {

using namespace LabTesting;
using lab::Html;
using lab::UrlPart;

archive::TestHeader TestHeader(const QString& tester = QStringLiteral("张工")) {
    archive::TestHeader h = Header(UniqueUid(), QStringLiteral("/dev/ttyUSB0"));
    h.tester = tester;
    return h;
}

bool Contains(const std::string& body, const QString& text) {
    return QString::fromStdString(body).contains(text);
}

// Every page but 报告核验 and the style sheet needs a login; unknown paths and anything that
// tries to leave the assets answer 404.
TEST(LabHttp, PagesNeedALoginAndNothingOutsideTheAssetsIsServed) {
    LabSite site;
    const archive::TestHeader h = TestHeader();
    site.sendTest(h, 3, 20);
    ASSERT_GT(site.start(), 0);
    httplib::Client c = site.client();
    const std::string uid = h.uid.toStdString();
    const struct {
        std::string path;
        int status;
        const char* location;  // of a redirect
    } cases[] = {
        {"/tests", 303, "/login?next=/tests"},
        {"/tests/" + uid, 303, nullptr},
        {"/tests/" + uid + "/report.pdf", 303, nullptr},
        {"/tests/" + uid + "/polls.csv", 303, nullptr},
        {"/", 303, "/tests"},
        {"/live", 303, nullptr},
        {"/api/live", 401, nullptr},
        {"/live/events", 401, nullptr},
        {"/verify", 200, nullptr},
        {"/login", 200, nullptr},
        {"/assets/kivo.css", 200, nullptr},
        {"/no-such-page", 404, nullptr},
        {"/assets/../CMakeLists.txt", 404, nullptr},
        {"/assets/%2e%2e/%2e%2e/CMakeLists.txt", 404, nullptr},
        {"/assets/kivo.css/../../../../etc/passwd", 404, nullptr},
        {"/assets/", 404, nullptr},
    };
    for (const auto& t : cases) {
        const httplib::Result r = c.Get(t.path.c_str());
        ASSERT_TRUE(r) << t.path;
        EXPECT_EQ(r->status, t.status) << t.path;
        if (t.location) {
            EXPECT_EQ(r->get_header_value("Location"), t.location) << t.path;
        }
        EXPECT_EQ(r->body.find("root:"), std::string::npos) << t.path;
        EXPECT_EQ(r->body.find("cmake_minimum_required"), std::string::npos) << t.path;
        if (t.status == 404) {
            EXPECT_TRUE(Contains(r->body, QStringLiteral("页面不存在"))) << t.path;
        }
    }
    EXPECT_EQ(site.stop(), 0);
}

// A login sets a session cookie the script cannot read and no other site sends; a wrong
// password or an unknown name sets none; the cookie opens the pages until 退出登录 or a change
// of the account; past the limit of failed logins an address is refused, the right password
// too.
TEST(LabHttp, LoginSessionsAndTheirCookie) {
    LabSite site(QStringLiteral("[limits]\nfailed_logins_per_hour = 3\n"));
    site.addUser();
    ASSERT_GT(site.start(), 0);
    httplib::Client c = site.client();
    const struct {
        QString name, password;
        bool signsIn;
    } attempts[] = {
        {kUser, QStringLiteral("wrong-password"), false},
        {QStringLiteral("nobody"), kUserPassword, false},
        {kUser, kUserPassword, true},
    };
    for (const auto& a : attempts) {
        const httplib::Result r =
            c.Post("/login", httplib::Params{{"name", a.name.toStdString()},
                                             {"password", a.password.toStdString()}});
        ASSERT_TRUE(r);
        const std::string cookie = r->get_header_value("Set-Cookie");
        if (!a.signsIn) {
            EXPECT_EQ(r->status, 200) << a.name.toStdString();
            EXPECT_TRUE(cookie.empty()) << cookie;
            EXPECT_TRUE(Contains(r->body, QStringLiteral("用户名或密码错误")));
            continue;
        }
        EXPECT_EQ(r->status, 303);
        EXPECT_EQ(r->get_header_value("Location"), "/tests");
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^kivo_session=[0-9a-f]{64}; "))
                        .match(QString::fromStdString(cookie))
                        .hasMatch())
            << cookie;
        for (const char* flag : {"; HttpOnly", "; SameSite=Strict", "; Path=/"})
            EXPECT_NE(cookie.find(flag), std::string::npos) << flag;
        EXPECT_NE(cookie.find("; Secure"), std::string::npos) << "HTTPS at the lab's proxy";
    }
    // After the login the page asked for, when it is one of the service's own.
    const struct {
        const char* next;
        const char* location;
    } nexts[] = {
        {"/tests/abc", "/tests/abc"},
        {"//evil.example/", "/tests"},
        {"https://evil.example/", "/tests"},
        {"/\\evil.example", "/tests"},
        {"/tests\r\nSet-Cookie: x=1", "/tests"},
    };
    for (const auto& n : nexts) {
        const httplib::Result r =
            c.Post("/login", httplib::Params{{"name", kUser.toStdString()},
                                             {"password", kUserPassword.toStdString()},
                                             {"next", n.next}});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->get_header_value("Location"), n.location) << n.next;
    }
    const std::string session = site.login();
    ASSERT_FALSE(session.empty());
    int status = 0;
    Get(c, "/tests", &status, session);
    EXPECT_EQ(status, 200);
    Get(c, "/tests", &status, "kivo_session=" + std::string(64, '0'));
    EXPECT_EQ(status, 303) << "a made-up session";
    httplib::Headers withCookie{{"Cookie", session}};
    const httplib::Result out = c.Post("/logout", withCookie, "", "text/plain");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->status, 303);
    Get(c, "/tests", &status, session);
    EXPECT_EQ(status, 303) << "the session ended with 退出登录";

    // A new password or a removed account ends the sessions opened before.
    for (const char* change :
         {"UPDATE kivo_web_users SET hash = hash || 'x'", "DELETE FROM kivo_web_users"}) {
        site.addUser();
        const std::string before = site.login();
        ASSERT_FALSE(before.empty()) << change;
        Get(c, "/tests", &status, before);
        EXPECT_EQ(status, 200) << change;
        Cluster().query(QString::fromUtf8(change), site.database());
        Get(c, "/tests", &status, before);
        EXPECT_EQ(status, 303) << change;
    }
    site.addUser();

    // A third failure reaches the limit of three (two are above).
    EXPECT_TRUE(site.login(kUser, QStringLiteral("wrong-1")).empty());
    const httplib::Result refused = c.Post(
        "/login",
        httplib::Params{{"name", kUser.toStdString()}, {"password", kUserPassword.toStdString()}});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 429);
    EXPECT_TRUE(Contains(refused->body, QStringLiteral("登录失败次数过多")));
    EXPECT_EQ(site.stop(), 0);
}

// A test's texts are shown as text wherever they appear, never as markup.
TEST(LabHttp, TextsFromTheDataAreEscaped) {
    LabSite site;
    const QString script = QStringLiteral("<script>alert(1)</script>");
    archive::TestHeader h = TestHeader(script);
    h.organisation = QStringLiteral("\"><img src=x onerror=alert(2)>");
    h.specimenNo[0] = QStringLiteral("S&1");
    site.sendTest(h, 3, 20);
    site.addUser();
    ASSERT_GT(site.start(), 0);
    httplib::Client c = site.client();
    const std::string session = site.login();
    ASSERT_FALSE(session.empty());
    int status = 0;
    for (const std::string& path : {std::string("/tests"), "/tests/" + h.uid.toStdString(),
                                    std::string("/tests?tester=%3Cscript%3E")}) {
        const std::string body = Get(c, path, &status, session);
        EXPECT_EQ(status, 200) << path;
        EXPECT_TRUE(Contains(body, QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt;")))
            << path;
        EXPECT_EQ(body.find("<script>"), std::string::npos) << path;
        EXPECT_EQ(body.find("<img"), std::string::npos) << path;
    }
    const std::string page = Get(c, "/tests/" + h.uid.toStdString(), &status, session);
    EXPECT_TRUE(Contains(page, QStringLiteral("S&amp;1")));
    // What was typed into the verify form comes back as text as well.
    const std::string verify = Get(c, "/verify?n=%22%3E%3Cscript%3Ex%3C%2Fscript%3E&c=1", &status);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(verify.find("<script>"), std::string::npos);
    EXPECT_TRUE(Contains(verify, QStringLiteral("&quot;&gt;&lt;script&gt;")));
    EXPECT_EQ(site.stop(), 0);
}

// Requests beyond the bounds are refused before any handler reads them.
TEST(LabHttp, OversizedRequestsAreRefused) {
    LabSite site;
    ASSERT_GT(site.start(), 0);
    httplib::Client c = site.client();
    const httplib::Result line = c.Get(("/verify?n=" + std::string(10000, 'a')).c_str());
    ASSERT_TRUE(line);
    EXPECT_EQ(line->status, 414);

    httplib::Headers many;
    for (int i = 0; i < 12; ++i)
        many.emplace("X-Filler-" + std::to_string(i), std::string(1000, 'h'));
    const httplib::Result headers = c.Get("/verify", many);
    ASSERT_TRUE(headers);
    EXPECT_EQ(headers->status, 431);

    const httplib::Result body =
        c.Post("/login", std::string(100 * 1024, 'b'), "application/x-www-form-urlencoded");
    ASSERT_TRUE(body);
    EXPECT_EQ(body->status, 413);

    // Within the bounds all is well.
    httplib::Headers few{{"X-Filler", std::string(1000, 'h')}};
    const httplib::Result fine = c.Get("/verify", few);
    ASSERT_TRUE(fine);
    EXPECT_EQ(fine->status, 200);
    EXPECT_EQ(site.stop(), 0);
}

// 报告核验: a report's number and code say 真实有效 with its summary, one digit changed says
// 核验码不符, a number the lab never issued 未找到; the forms a person types are read; two
// tests of one day whose uids begin alike share a number and each report verifies with its
// own code; past the limit an address is refused for the rest of the minute.
TEST(LabHttp, VerifyAnswersAndItsRateLimit) {
    LabSite site(QStringLiteral("[limits]\nverify_per_minute = 7\n"));
    const archive::TestHeader h = TestHeader();
    site.sendTest(h, 72, 200);
    archive::TestHeader twin = TestHeader();
    twin.uid = h.uid.left(9) + UniqueUid().mid(9);
    twin.organisation = QStringLiteral("第二检测站");
    site.sendTest(twin, 10, 30);
    ASSERT_GT(site.start(), 0);
    const auto [number, code] = site.reportCheck(h.uid);
    const auto [twinNumber, twinCode] = site.reportCheck(twin.uid);
    ASSERT_EQ(twinNumber, number);
    ASSERT_FALSE(code.isEmpty());
    QString wrong = code;
    wrong[0] = wrong[0] == u'9' ? u'0' : QChar(wrong[0].unicode() + 1);
    QString typed = code;
    typed.replace(u'-', u' ');

    const LabSite::Desktop desktop = site.desktop(h.uid);
    const ReportContent content =
        MakeReportContent(desktop.test, desktop.polls, desktop.audit,
                          GradingScheme::PenetrabilityClasses, desktop.account, kVerifyBase);
    ASSERT_FALSE(content.groups.empty());

    const struct {
        QString number, code;
        const char16_t* verdict;
        QString organisation;  // of the test found
    } cases[] = {
        {number, code, u"真实有效", h.organisation},
        {number, twinCode, u"真实有效", twin.organisation},
        {number.toLower(), typed, u"真实有效", h.organisation},
        {number, wrong, u"核验码不符", {}},
        {number, QStringLiteral("12"), u"核验码不符", {}},
        {QStringLiteral("DTL-20261208-00000000"), code, u"未找到", {}},
        {QStringLiteral("' OR 1=1 --"), code, u"未找到", {}},
    };
    httplib::Client c = site.client();
    for (const auto& t : cases) {
        int status = 0;
        const std::string body = Get(
            c, ("/verify?n=" + UrlPart(t.number) + "&c=" + UrlPart(t.code)).toStdString(), &status);
        EXPECT_EQ(status, 200) << t.number.toStdString();
        EXPECT_TRUE(Contains(body, QString::fromUtf16(t.verdict)))
            << t.number.toStdString() << " " << t.code.toStdString();
        if (t.organisation == twin.organisation) {
            EXPECT_TRUE(Contains(body, twin.organisation));
        } else if (QString::fromUtf16(t.verdict) == QStringLiteral("真实有效")) {
            // The desktop's own figures: the group values and grades, the organisation.
            for (const ReportContent::GroupRow& g : content.groups) {
                EXPECT_TRUE(Contains(body, g.value)) << g.value.toStdString();
                EXPECT_TRUE(Contains(body, g.grade)) << g.grade.toStdString();
            }
            EXPECT_TRUE(Contains(body, h.organisation));
            EXPECT_TRUE(Contains(body, QStringLiteral("viewport")));
        }
    }
    int status = 0;
    const std::string refused =
        Get(c, ("/verify?n=" + UrlPart(number) + "&c=" + UrlPart(code)).toStdString(), &status);
    EXPECT_EQ(status, 429);
    EXPECT_TRUE(Contains(refused, QStringLiteral("查询过于频繁")));
    EXPECT_EQ(site.stop(), 0);
}

// A test's page shows the desktop's figures; its PDF is the desktop's report and its CSV the
// desktop's CSV, byte for byte.
TEST(LabHttp, TestPageReportAndCsvAreTheDesktops) {
    LabSite site;
    const archive::TestHeader h = TestHeader();
    site.sendTest(h, 72, 300);
    site.addUser();
    ASSERT_GT(site.start(), 0);
    httplib::Client c = site.client();
    const std::string session = site.login();
    ASSERT_FALSE(session.empty());
    const LabSite::Desktop desktop = site.desktop(h.uid);
    const ReportContent content =
        MakeReportContent(desktop.test, desktop.polls, desktop.audit,
                          GradingScheme::PenetrabilityClasses, desktop.account, kVerifyBase);
    const std::string base = "/tests/" + h.uid.toStdString();
    int status = 0;

    const std::string page = Get(c, base, &status, session);
    ASSERT_EQ(status, 200);
    ASSERT_FALSE(content.groups.empty());
    for (const ReportContent::GroupRow& g : content.groups)
        EXPECT_TRUE(Contains(page, QStringLiteral("<td>%1</td><td>%2</td><td>%3</td>")
                                       .arg(Html(g.name), Html(g.value), Html(g.grade))))
            << g.name.toStdString();
    for (const ReportContent::ChannelRow& ch : content.channels)
        EXPECT_TRUE(Contains(page, QStringLiteral("<td>%1</td>").arg(Html(ch.adjusted))));
    EXPECT_TRUE(Contains(page, QStringLiteral("<svg class=\"chart\"")));
    EXPECT_TRUE(Contains(page, content.reportNumber));
    EXPECT_TRUE(Contains(page, site.reportCheck(h.uid).second));

    const std::string csv = Get(c, base + "/polls.csv", &status, session);
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(QByteArray::fromStdString(csv) ==
                BuildPollCsv(desktop.polls, desktop.test.records));

    const std::string pdf = Get(c, base + "/report.pdf", &status, session);
    EXPECT_EQ(status, 200);
    ASSERT_EQ(pdf.rfind("%PDF", 0), 0u);
    QTemporaryDir dir;
    auto text = [&](const QByteArray& bytes, const QString& name) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        QProcess p;
        p.start(QStringLiteral("pdftotext"),
                {QStringLiteral("-layout"), f.fileName(), QStringLiteral("-")});
        EXPECT_TRUE(p.waitForFinished(60000));
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    const QString served = text(QByteArray::fromStdString(pdf), QStringLiteral("served.pdf"));
    EXPECT_TRUE(served.contains(content.reportNumber));
    EXPECT_EQ(served, text(TestReportPdf(content), QStringLiteral("desktop.pdf")));

    // The live page is the service's own, behind the same login, fed from the same server.
    EXPECT_TRUE(Contains(Get(c, "/live", &status, session), QStringLiteral("实验台")));
    EXPECT_EQ(status, 200);
    // The feed reads the server once it has started: wait for that read, not for a time.
    QDeadlineTimer fed(30000);
    while (!Contains(Get(c, "/api/live", &status, session), h.tester) && !fed.hasExpired())
        QThread::msleep(100);
    EXPECT_FALSE(fed.hasExpired());
    EXPECT_EQ(status, 200);

    Get(c, "/tests/no-such-test", &status, session);
    EXPECT_EQ(status, 404);
    EXPECT_EQ(site.stop(), 0);
}

// The list: newest first, a page at a time, each filter applied.
TEST(LabHttp, TestListFiltersAndPages) {
    LabSite site;
    std::vector<archive::TestHeader> tests;
    for (int i = 0; i < 3; ++i) {
        archive::TestHeader h = TestHeader(QStringLiteral("测试人%1").arg(i));
        h.organisation = QStringLiteral("单位%1").arg(i);
        h.startedAtMs = QDateTime(QDate(2026, 12, 8 + i), QTime(9, 0)).toMSecsSinceEpoch();
        h.testDate = QStringLiteral("2026-12-%1").arg(8 + i);
        h.specimenNo[2] = QStringLiteral("SP-%1").arg(i);
        tests.push_back(h);
    }
    for (const archive::TestHeader& h : tests) site.sendTest(h, 2, 10);
    site.addUser();
    ASSERT_GT(site.start(), 0);
    httplib::Client c = site.client();
    const std::string session = site.login();
    server::PgConnection db = Superuser(site.database());
    const std::vector<QString> benches = lab::LabBenches(db);
    ASSERT_EQ(benches.size(), 1u);
    const std::string bench = "?bench=" + UrlPart(benches.front()).toStdString();
    const struct {
        std::string query;
        std::vector<int> shown;  // newest first
    } cases[] = {
        {"", {2, 1, 0}},
        {bench, {2, 1, 0}},
        {bench + "&tester=%E6%B5%8B%E8%AF%95%E4%BA%BA0", {0}},
        {"?bench=LAB-PC-9", {}},
        {"?tester=%E6%B5%8B%E8%AF%95%E4%BA%BA1", {1}},
        {"?org=%E5%8D%95%E4%BD%8D2", {2}},
        {"?specimen=SP-0", {0}},
        {"?specimen=SP", {}},
        {"?from=2026-12-09", {2, 1}},
        {"?to=2026-12-09", {1, 0}},
        {"?from=2026-12-09&to=2026-12-09", {1}},
        {"?tester=%25", {}},
    };
    for (const auto& t : cases) {
        int status = 0;
        const QString body = QString::fromStdString(Get(c, "/tests" + t.query, &status, session));
        EXPECT_EQ(status, 200) << t.query;
        std::vector<int> shown;
        static const QRegularExpression link(QStringLiteral("href=\"/tests/([^\"]+)\""));
        for (auto m = link.globalMatch(body); m.hasNext();) {
            const QString uid = m.next().captured(1);
            for (int i = 0; i < 3; ++i)
                if (tests[size_t(i)].uid == uid) shown.push_back(i);
        }
        EXPECT_EQ(shown, t.shown) << t.query;
    }
    // A page at a time: each page goes on after the last test of the one before.
    lab::LabListQuery query;
    query.limit = 2;
    const lab::LabTestList first = lab::ListLabTests(db, query);
    ASSERT_EQ(first.rows.size(), 2u);
    EXPECT_TRUE(first.more);
    query.after = std::pair{first.rows.back().startedAtMs, first.rows.back().uid};
    const lab::LabTestList second = lab::ListLabTests(db, query);
    ASSERT_EQ(second.rows.size(), 1u);
    EXPECT_FALSE(second.more);
    EXPECT_EQ(second.rows.front().uid, tests[0].uid);
    int status = 0;
    const std::string page = Get(
        c,
        "/tests?tester=%E6%B5%8B&after=" +
            UrlPart(QString::number(query.after->first) + u'.' + query.after->second).toStdString(),
        &status, session);
    EXPECT_TRUE(Contains(page, tests[0].uid));
    EXPECT_FALSE(Contains(page, tests[1].uid));
    EXPECT_TRUE(Contains(page, QStringLiteral("href=\"/tests?tester=%E6%B5%8B\">最新的实验")));
    EXPECT_EQ(site.stop(), 0);
}

// The service's role reads and keeps the web accounts, and can change no test data; no bench
// reads the accounts; the set-up never upgrades the benches' tables.
TEST(LabHttp, TheServicesRoleCannotWriteTestData) {
    LabSite site;
    const archive::TestHeader h = TestHeader();
    site.sendTest(h, 2, 10);
    server::PgConnection web(
        {UriWithPassword(site.database(), QStringLiteral("kivo_web"), kWebPassword), {}, 10});
    EXPECT_EQ(lab::WebSchemaVersion(web), lab::kWebSchemaVersion);
    const struct {
        const char* sql;
        bool allowed;
    } cases[] = {
        {"SELECT count(*) FROM tests", true},
        {"SELECT * FROM kivo_test_accounts(ARRAY['x'])", true},
        {"INSERT INTO kivo_web_users (name, hash) VALUES ('a', 'b')", true},
        {"INSERT INTO records (test_uid, number, revision, at_ms) SELECT uid, 99, 0, 0 FROM tests",
         false},
        {"UPDATE tests SET tester = 'x'", false},
        {"DELETE FROM polls", false},
        {"INSERT INTO state_changes (test_uid, ordinal, state, at_ms) "
         "SELECT uid, 99, 'running', 0 FROM tests",
         false},
        {"INSERT INTO audit_events (uid, bench_id, at_ms, user_name, action, detail) "
         "VALUES ('x', 1, 0, 'u', 'a', 'd')",
         false},
        {"TRUNCATE test_summaries", false},
        {"CREATE TABLE records2 (x int)", false},
        {"DELETE FROM kivo_web_users", false},
    };
    for (const auto& t : cases) {
        bool ok = true;
        try {
            web.exec(t.sql);
        } catch (const server::PgError&) {
            ok = false;
        }
        EXPECT_EQ(ok, t.allowed) << t.sql;
    }
    // Set up again: nothing changes, nothing fails.
    const LabRun again = RunLab({QStringLiteral("--setup"), UriWithPassword(site.database())});
    EXPECT_EQ(again.exitCode, 0) << again.output.toStdString();

    // A bench role cannot read the web accounts' hashes: not as the script makes it, nor after
    // someone granted its group every table and the set-up ran again.
    const QString bench = QStringLiteral("kivo_bench_web_t");
    ASSERT_EQ(AddBenchRole(site.database(), bench, QStringLiteral("Bench-pw-1")), QString());
    const struct {
        const char* before;  // run as the superuser, then --setup, when set
    } orders[] = {{nullptr},
                  {"GRANT SELECT ON kivo_web_users, kivo_web_schema TO kivo_benches, PUBLIC"}};
    for (const auto& o : orders) {
        if (o.before) {
            Cluster().query(QString::fromUtf8(o.before), site.database());
            EXPECT_EQ(
                RunLab({QStringLiteral("--setup"), UriWithPassword(site.database())}).exitCode, 0);
        }
        server::PgConnection benchDb(
            {UriWithPassword(site.database(), bench, QStringLiteral("Bench-pw-1")), {}, 10});
        for (const char* sql :
             {"SELECT count(*) FROM kivo_web_users", "SELECT count(*) FROM kivo_web_schema"}) {
            bool read = true;
            try {
                benchDb.exec(sql);
            } catch (const server::PgError&) {
                read = false;
            }
            EXPECT_FALSE(read) << sql << " " << (o.before ? o.before : "");
        }
        EXPECT_NO_THROW(benchDb.exec("SELECT count(*) FROM tests")) << "the benches still read";
    }

    // The benches' tables of another version: the set-up refuses and upgrades nothing.
    const struct {
        int version;
        const char* says;
    } versions[] = {{server::kServerSchemaVersion - 1, "请先升级各实验台"},
                    {server::kServerSchemaVersion + 1, "请先升级 kivo-lab"}};
    for (const auto& v : versions) {
        Cluster().query(QStringLiteral("UPDATE kivo_schema SET version = %1").arg(v.version),
                        site.database());
        const LabRun refused =
            RunLab({QStringLiteral("--setup"), UriWithPassword(site.database())});
        EXPECT_EQ(refused.exitCode, 1) << v.version;
        EXPECT_TRUE(refused.output.contains(QString::fromUtf8(v.says)))
            << refused.output.toStdString();
        EXPECT_EQ(Count(site.database(), QStringLiteral("SELECT max(version) FROM kivo_schema")),
                  v.version);
    }
}

// --add-user asks the password twice; a mismatch or a short one keeps nothing; the account
// holds an argon2id hash, never the password.
TEST(LabHttp, AddUserAsksTwiceAndKeepsAHash) {
    LabSite site;
    const struct {
        const char* name;
        QByteArray input;
        int exitCode;
    } cases[] = {
        {"li", "Password-1\nPassword-2\n", 1},
        {"li", "short\nshort\n", 1},
        {"li", "", 1},
        {"bad name", "Password-1\nPassword-1\n", 2},
        {"li", "Password-1\nPassword-1\n", 0},
    };
    for (const auto& t : cases) {
        const LabRun r = RunLab({QStringLiteral("--config"), site.configPath(),
                                 QStringLiteral("--add-user"), QString::fromUtf8(t.name)},
                                t.input);
        EXPECT_EQ(r.exitCode, t.exitCode) << t.name << " " << r.output.toStdString();
        const qint64 kept =
            Count(site.database(), QStringLiteral("SELECT count(*) FROM kivo_web_users"));
        EXPECT_EQ(kept, t.exitCode == 0 ? 1 : 0) << t.name;
    }
    const QString hash = Cluster().query(
        QStringLiteral("SELECT hash FROM kivo_web_users WHERE name = 'li'"), site.database());
    EXPECT_TRUE(hash.startsWith(QStringLiteral("$argon2id$"))) << hash.toStdString();
    EXPECT_FALSE(hash.contains(QStringLiteral("Password-1")));
}

}  // namespace

namespace {

// With the lab's certificate set the service speaks HTTPS only, and its cookie is Secure.
TEST(LabHttps, TheLabsCertificateAndASecureCookie) {
    QTemporaryDir dir;
    const QString cert = dir.filePath(QStringLiteral("server.crt"));
    const QString key = dir.filePath(QStringLiteral("server.key"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                   QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                   QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert});
    ASSERT_TRUE(openssl.waitForFinished(60000));
    ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAll().toStdString();

    LabSite site(QStringLiteral("tls_cert = %1\ntls_key = %2\n").arg(cert, key));
    site.addUser();
    const int port = site.start();
    ASSERT_GT(port, 0);
    httplib::Client tls(("https://127.0.0.1:" + std::to_string(port)).c_str());
    tls.set_ca_cert_path(cert.toStdString().c_str());
    tls.enable_server_certificate_verification(true);
    tls.set_read_timeout(60, 0);
    const httplib::Result verify = tls.Get("/verify");
    ASSERT_TRUE(verify) << httplib::to_string(verify.error());
    EXPECT_EQ(verify->status, 200);
    const httplib::Result login = tls.Post(
        "/login",
        httplib::Params{{"name", kUser.toStdString()}, {"password", kUserPassword.toStdString()}});
    ASSERT_TRUE(login);
    EXPECT_EQ(login->status, 303);
    EXPECT_NE(login->get_header_value("Set-Cookie").find("; Secure"), std::string::npos);

    httplib::Client plain = site.client();
    plain.set_read_timeout(10, 0);
    const httplib::Result refused = plain.Get("/verify");
    EXPECT_TRUE(!refused || refused->status != 200) << "plain HTTP on the HTTPS port";
    EXPECT_EQ(site.stop(), 0);
}

}  // namespace

namespace {

// A database that cannot be reached is said in the page, in Chinese, and the service goes on.
TEST(LabHttp, AnUnreachableDatabaseIsSaidNotHung) {
    LabSite site(QStringLiteral("[database]\nport = 1\n"));
    ASSERT_GT(site.start(), 0);
    httplib::Client c = site.client();
    const std::pair<std::string, httplib::Params> requests[] = {
        {"/verify?n=DTL-20261208-12345678&c=1234-5678-9012", {}},
        {"/login", {{"name", "zhang"}, {"password", "whatever-1"}}},
    };
    for (int round = 0; round < 2; ++round) {
        for (const auto& [path, form] : requests) {
            const httplib::Result r =
                form.empty() ? c.Get(path.c_str()) : c.Post(path.c_str(), form);
            ASSERT_TRUE(r) << path;
            EXPECT_EQ(r->status, 503) << path;
            EXPECT_TRUE(Contains(r->body, QStringLiteral("无法读取实验室数据库"))) << path;
        }
    }
    int status = 0;
    Get(c, "/verify", &status);
    EXPECT_EQ(status, 200) << "the form needs no database";
    EXPECT_EQ(site.stop(), 0);
}

}  // namespace
