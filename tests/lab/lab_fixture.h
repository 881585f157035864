#pragma once

#include <httplib.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>

#include "archive/archive_reader.h"
#include "archive/sqlite_handle.h"
#include "report/report_content.h"
#include "server/server_fixture.h"
#include "server/server_reader.h"
#include "server/test_account.h"
#include "server/verification_code.h"
#include "support/unique_uid.h"

// The web service under test: a database of the private cluster set up with `kivo-lab
// --setup` as its owner, filled with a bench's tests through the real sender, a web account
// made with `kivo-lab --add-user`, and the real program started on 127.0.0.1 and a free port.
namespace LabTesting {

using namespace ServerTesting;

inline const QString kWebPassword = QStringLiteral("Kivo-web-pw-1");
// The verify page's address the service and the bench's report both print.
inline const QString kVerifyBase = QStringLiteral("https://lab.example.cn");
inline const QString kUser = QStringLiteral("zhang");
inline const QString kUserPassword = QStringLiteral("Lab-Secret-9");

// The service's role, made once for the cluster as the administrator makes it.
inline void EnsureWebRole() {
    static const bool made = Cluster().createRole(QStringLiteral("kivo_web"), kWebPassword);
    ASSERT_TRUE(made) << Cluster().error().toStdString();
}

struct LabRun {
    int exitCode = -1;
    QString output;
};

// Runs kivo-lab with `args`, `input` on its standard input, to its end.
inline LabRun RunLab(const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(KIVO_LAB_PROGRAM), args);
    if (!p.waitForStarted(60000)) return {-1, QStringLiteral("did not start")};
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return {-1, QStringLiteral("did not finish")};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAll())};
}

class LabSite {
  public:
    // `extraIni` goes into the configuration file as it stands (limits, TLS).
    explicit LabSite(const QString& extraIni = {}) : m_database(FreshDatabase()) {
        EnsureWebRole();
        QFile pw(m_dir.filePath(QStringLiteral("db-password")));
        EXPECT_TRUE(pw.open(QIODevice::WriteOnly));
        pw.write(kWebPassword.toUtf8() + '\n');
        pw.close();
        QFile ini(configPath());
        EXPECT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[database]\nhost = 127.0.0.1\nport = %1\ndbname = %2\n"
                                 "user = kivo_web\npassword_file = %3\n"
                                 "[http]\nlisten = 127.0.0.1\nport = 0\n"
                                 "verify_base = %5\n%4\n")
                      .arg(Cluster().port())
                      .arg(m_database, pw.fileName(), extraIni, kVerifyBase)
                      .toUtf8());
        ini.close();
        const LabRun setup = RunLab({QStringLiteral("--setup"), UriWithPassword(m_database)});
        EXPECT_EQ(setup.exitCode, 0) << setup.output.toStdString();
    }
    ~LabSite() { stop(); }

    QString database() const { return m_database; }
    QString configPath() const { return m_dir.filePath(QStringLiteral("kivo-lab.ini")); }
    QString archivePath() const { return m_dir.filePath(QStringLiteral("kivo.sqlite")); }

    // A bench's test written to its archive and sent to the server by the bench's sender.
    void sendTest(const archive::TestHeader& header, int records, int polls) {
        WriteTest(archivePath(), header, records, polls);
        server::ServerSender sender(archivePath(), {}, SenderOptions(UriWithPassword(m_database)));
        ASSERT_TRUE(WaitSynced(sender)) << sender.status().text().toStdString();
    }

    void addUser(const QString& name = kUser, const QString& password = kUserPassword) {
        const LabRun r =
            RunLab({QStringLiteral("--config"), configPath(), QStringLiteral("--add-user"), name},
                   (password + u'\n' + password + u'\n').toUtf8());
        ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
    }

    // Starts the program; the port it listens on (0 when it did not start).
    int start() {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process->start(QStringLiteral(KIVO_LAB_PROGRAM),
                         {QStringLiteral("--config"), configPath()});
        static const QRegularExpression listening(
            QStringLiteral("listening on https?://[0-9.]+:(\\d+)"));
        QByteArray out;
        while (m_process->waitForReadyRead(60000)) {
            out += m_process->readAllStandardOutput();
            const QRegularExpressionMatch m = listening.match(QString::fromUtf8(out));
            if (m.hasMatch()) return m_port = m.captured(1).toInt();
        }
        ADD_FAILURE() << "kivo-lab did not start: " << out.toStdString();
        return 0;
    }

    // SIGTERM; the program's exit code (it ends by itself, its pages finished).
    int stop() {
        if (!m_process) return -1;
        m_process->terminate();
        const bool ended = m_process->waitForFinished(60000);
        if (!ended) m_process->kill();
        const int code =
            ended && m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
        m_process.reset();
        return code;
    }

    httplib::Client client() const {
        httplib::Client c("127.0.0.1", m_port);
        c.set_read_timeout(60, 0);
        c.set_connection_timeout(30, 0);
        return c;
    }

    // Signs in; the session's Cookie header (empty when the login failed).
    std::string login(const QString& name = kUser, const QString& password = kUserPassword) {
        httplib::Client c = client();
        const httplib::Params form{{"name", name.toStdString()},
                                   {"password", password.toStdString()}};
        const httplib::Result r = c.Post("/login", form);
        if (!r || r->status != 303) return {};
        const std::string cookie = r->get_header_value("Set-Cookie");
        return cookie.substr(0, cookie.find(';'));
    }

    // The report number and code of test `uid` as the server's account gives them (what the
    // report printed from the server's data carries).
    std::pair<QString, QString> reportCheck(const QString& uid) {
        server::PgConnection db = Superuser(m_database);
        const std::optional<server::ServerTest> test = server::LoadServerTest(db, uid);
        EXPECT_TRUE(test);
        if (!test) return {};
        const QString number = ReportNumber(test->test);
        return {number, server::VerificationCode(number, server::ServerAccounts(db, {uid})[uid])};
    }

    // The local archive's test `uid` as the desktop reads it, with its polls and audit events.
    struct Desktop {
        archive::ArchivedTest test;
        std::vector<archive::PollRow> polls;
        std::vector<archive::AuditRow> audit;
        server::TestAccount account;  // the archive's, as the bench's report reads it
    };
    Desktop desktop(const QString& uid) {
        std::unique_ptr<archive::ArchiveReader> reader =
            archive::ArchiveReader::open(archivePath(), nullptr);
        Desktop d;
        for (const archive::TestSummary& s : reader->listTests())
            if (s.uid == uid) {
                d.test = *reader->loadTest(s.id);
                d.polls = reader->polls(s.id);
                d.audit = reader->auditEvents(uid);
                archive::Connection db(archivePath(), SQLITE_OPEN_READONLY);
                server::PollTally tally;
                d.account = server::LocalAccount(db, s.id, tally);
            }
        return d;
    }

  private:
    QTemporaryDir m_dir;
    QString m_database;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
};

inline std::string Get(httplib::Client& c, const std::string& path, int* status,
                       const std::string& cookie = {}) {
    httplib::Headers headers;
    if (!cookie.empty()) headers.emplace("Cookie", cookie);
    const httplib::Result r = c.Get(path.c_str(), headers);
    *status = r ? r->status : -1;
    return r ? r->body : std::string();
}

}  // namespace LabTesting
