// The web service's parts that need no server: escaping, the configuration, the limits.

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

#include "lab/bounded_task_queue.h"
#include "lab/client_address.h"
#include "lab/html.h"
#include "lab/lab_config.h"
#include "lab/rate_limiter.h"
#include "lab/session_store.h"
#include "lab/web_users.h"

namespace {

TEST(LabHtml, EveryMarkupCharacterIsEscaped) {
    const struct {
        const char16_t* text;
        const char16_t* html;
    } cases[] = {
        {u"<script>alert(1)</script>", u"&lt;script&gt;alert(1)&lt;/script&gt;"},
        {u"a & b", u"a &amp; b"},
        {u"\"><img src=x>", u"&quot;&gt;&lt;img src=x&gt;"},
        {u"it's", u"it&#39;s"},
        {u"&amp;", u"&amp;amp;"},
        {u"张工 检测中心", u"张工 检测中心"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lab::Html(QString::fromUtf16(c.text)), QString::fromUtf16(c.html))
            << QString::fromUtf16(c.text).toStdString();
    EXPECT_EQ(lab::UrlPart(QStringLiteral("a&b=c d/张")),
              QStringLiteral("a%26b%3Dc%20d%2F%E5%BC%A0"));
}

TEST(LabConfig, ValuesDefaultsAndRefusals) {
    QString error;
    const std::optional<lab::LabConfig> c = lab::ConfigFromIni(
        QStringLiteral("# the lab\n[database]\nhost = db.lab\nport=5433\ndbname = kivo\n"
                       "user = kivo_web\npassword_file = /etc/kivo-lab/pw\nsslmode = verify-full\n"
                       "sslrootcert = /etc/kivo-lab/ca.crt\n\n[http]\nlisten = 0.0.0.0\n"
                       "port = 8443\ntls_cert = /c.pem\ntls_key = /k.pem\n"
                       "verify_base = https://lab.example.cn\n[report]\ngrading = durability\n"),
        &error);
    ASSERT_TRUE(c) << error.toStdString();
    EXPECT_EQ(c->host, QStringLiteral("db.lab"));
    EXPECT_EQ(c->port, 5433);
    EXPECT_EQ(c->listenPort, 8443);
    EXPECT_TRUE(c->https());
    EXPECT_EQ(c->grading, GradingScheme::DurabilityGrades);
    EXPECT_EQ(lab::ConnInfo(*c),
              QStringLiteral("host='db.lab' port=5433 dbname='kivo' user='kivo_web' "
                             "sslmode='verify-full' sslrootcert='/etc/kivo-lab/ca.crt'"));

    const std::optional<lab::LabConfig> defaults = lab::ConfigFromIni({}, &error);
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->listen, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(defaults->listenPort, 8080);
    EXPECT_FALSE(defaults->https());
    EXPECT_TRUE(defaults->behindProxy) << "listening on loopback: behind the lab's proxy";
    EXPECT_FALSE(c->behindProxy) << "listening on the network";

    // The session cookie is Secure whenever browsers come over HTTPS.
    const struct {
        const char* ini;
        bool secure;
    } cookies[] = {
        {"[http]\nbehind_proxy = false\n", false},
        {"[http]\nbehind_proxy = false\nverify_base = http://10.0.0.2\n", false},
        {"[http]\nbehind_proxy = false\nverify_base = https://lab.example.cn\n", true},
        {"", true},  // loopback: behind the lab's proxy
    };
    for (const auto& k : cookies) {
        const std::optional<lab::LabConfig> read =
            lab::ConfigFromIni(QString::fromUtf8(k.ini), &error);
        ASSERT_TRUE(read) << error.toStdString();
        EXPECT_EQ(read->secureCookie(), k.secure) << k.ini;
    }

    // A value that would smuggle another libpq keyword stays one value.
    lab::LabConfig odd;
    odd.dbname = QStringLiteral("kivo' host='evil");
    EXPECT_TRUE(lab::ConnInfo(odd).contains(QStringLiteral("dbname='kivo\\' host=\\'evil'")));

    const char* refused[] = {
        "[http]\nport = 70000\n",
        "[database]\nport = abc\n",
        "[http]\ntls_cert = /c.pem\n",
        "[report]\ngrading = other\n",
        "[limits]\nverify_per_minute = 0\n",
        "[http]\nverify_base = https://lab.example.cn/kivo\n",
        "[http]\nverify_base = lab.example.cn\n",
        "[http]\nlisten = 0.0.0.0\n",
        "[http]\nlisten = 192.168.1.5\n",
        "just a line\n",
    };
    for (const char* text : refused) {
        EXPECT_FALSE(lab::ConfigFromIni(QString::fromUtf8(text), &error)) << text;
        EXPECT_FALSE(error.isEmpty()) << text;
    }
}

TEST(LabLimits, EachAddressHasItsOwnWindow) {
    lab::RateLimiter limit(3, 60000);
    const struct {
        const char* address;
        qint64 atMs;
        bool allowed;
    } steps[] = {
        {"10.0.0.1", 0, true},      {"10.0.0.1", 1000, true},  {"10.0.0.1", 2000, true},
        {"10.0.0.1", 3000, false},  {"10.0.0.2", 3000, true},  {"10.0.0.1", 59999, false},
        {"10.0.0.1", 60000, true},  {"10.0.0.1", 60001, true}, {"10.0.0.1", 60002, true},
        {"10.0.0.1", 60003, false},
    };
    for (const auto& s : steps)
        EXPECT_EQ(limit.take(s.address, s.atMs), s.allowed) << s.address << " " << s.atMs;
    EXPECT_TRUE(limit.refused("10.0.0.1", 60004));
    EXPECT_FALSE(limit.refused("10.0.0.2", 60004)) << "its window ended";
    EXPECT_FALSE(limit.refused("10.0.0.3", 0)) << "never seen";
    // A login is counted before its check and taken back when it succeeds.
    limit.refund("10.0.0.1");
    EXPECT_FALSE(limit.refused("10.0.0.1", 60004));
    EXPECT_TRUE(limit.take("10.0.0.1", 60005));
    EXPECT_FALSE(limit.take("10.0.0.1", 60006));
    limit.refund("10.0.0.4");
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(limit.take("10.0.0.4", 60006));
    EXPECT_FALSE(limit.take("10.0.0.4", 60006)) << "a refund of nothing gives nothing";
}

// The proxy's header counts only from the proxy on this machine, and only its last address.
TEST(LabLimits, TheClientAddressCannotBeForged) {
    const struct {
        const char* peer;
        const char* forwarded;
        bool behindProxy;
        const char* counted;
    } cases[] = {
        {"203.0.113.9", "10.9.9.9", true, "203.0.113.9"},   // forged from outside
        {"203.0.113.9", "10.9.9.9", false, "203.0.113.9"},  //
        {"127.0.0.1", "10.9.9.9", false, "127.0.0.1"},      // no proxy configured
        {"127.0.0.1", "1.1.1.1, 198.51.100.7", true, "198.51.100.7"},
        {"127.0.0.1", "1.1.1.1,198.51.100.7 ", true, "198.51.100.7"},
        {"::ffff:127.0.0.1", "198.51.100.7", true, "198.51.100.7"},
        {"::1", "2001:db8:1:2:aaaa::1", true, "2001:db8:1:2::/64"},
        {"127.0.0.1", "", true, "127.0.0.1"},
        {"2001:db8:1:2:3:4:5:6", "", false, "2001:db8:1:2::/64"},
        {"2001:db8:1:3::6", "", false, "2001:db8:1:3::/64"},
        {"::ffff:10.0.0.5", "", false, "10.0.0.5"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lab::ClientAddress(c.peer, c.forwarded, c.behindProxy), c.counted)
            << c.peer << " " << c.forwarded;
}

// With every thread busy and the queue full, the accepting side waits: what is queued never
// grows past its bound, and nothing queued is lost.
TEST(LabLimits, TheServersQueueIsBounded) {
    std::atomic<int> ran{0};
    std::latch started(1), release(1);
    {
        lab::BoundedTaskQueue queue(1, 2);
        queue.enqueue([&] {
            started.count_down();
            release.wait();
            ++ran;
        });
        // The one thread holds the first task before the flood begins, so the queue, once full,
        // stays full while its enqueuer waits.
        started.wait();
        std::thread flood([&] {
            for (int i = 0; i < 5; ++i) queue.enqueue([&] { ++ran; });
        });
        for (int i = 0; i < 600 && queue.blockedEnqueuers() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(queue.blockedEnqueuers(), 1u);
        EXPECT_EQ(queue.waiting(), 2u);
        release.count_down();
        flood.join();
        queue.shutdown();
    }
    EXPECT_EQ(ran, 6);
}

TEST(LabSessions, RandomIdsThatEnd) {
    lab::SessionStore store(1000, 3);
    const std::string a = store.open(QStringLiteral("zhang"), 0);
    const std::string b = store.open(QStringLiteral("li"), 500);
    EXPECT_EQ(a.size(), 64u);
    EXPECT_NE(a, b);
    EXPECT_EQ(store.user(a, 999), QStringLiteral("zhang"));
    EXPECT_EQ(store.user(a, 1000), std::nullopt) << "ended";
    EXPECT_EQ(store.user(b, 1000), QStringLiteral("li"));
    EXPECT_EQ(store.user(std::string(64, '0'), 0), std::nullopt);
    store.close(b);
    EXPECT_EQ(store.user(b, 1000), std::nullopt);
    // Full: the one that ends soonest makes room.
    const std::string c = store.open(QStringLiteral("c"), 1000),
                      d = store.open(QStringLiteral("d"), 1001),
                      e = store.open(QStringLiteral("e"), 1002),
                      f = store.open(QStringLiteral("f"), 1003);
    EXPECT_EQ(store.size(), 3u);
    EXPECT_EQ(store.user(c, 1004), std::nullopt);
    EXPECT_EQ(store.user(f, 1004), QStringLiteral("f"));

    const struct {
        const char* header;
        const char* value;
    } cookies[] = {
        {"kivo_session=abc", "abc"},
        {"other=1; kivo_session=abc; x=2", "abc"},
        {"xkivo_session=abc", ""},
        {"kivo_session_old=abc", ""},
        {"", ""},
    };
    for (const auto& k : cookies)
        EXPECT_EQ(lab::CookieValue(k.header, "kivo_session"), k.value) << k.header;
}

TEST(LabPasswords, Argon2idHashesAndChecks) {
    ASSERT_TRUE(lab::InitCrypto());
    const QString hash = lab::HashPassword(QStringLiteral("Lab-Secret-9"));
    EXPECT_TRUE(hash.startsWith(QStringLiteral("$argon2id$")));
    EXPECT_NE(hash, lab::HashPassword(QStringLiteral("Lab-Secret-9"))) << "salted";
    EXPECT_TRUE(lab::PasswordMatches(hash, QStringLiteral("Lab-Secret-9")));
    EXPECT_FALSE(lab::PasswordMatches(hash, QStringLiteral("Lab-Secret-8")));
    EXPECT_FALSE(lab::PasswordMatches({}, QStringLiteral("kivo-lab: no such account")));
    EXPECT_FALSE(lab::PasswordMatches(QStringLiteral("garbage"), QStringLiteral("x")));
}

}  // namespace
