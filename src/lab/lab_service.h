#pragma once

#include <httplib.h>

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "lab/connection_pool.h"
#include "lab/lab_config.h"
#include "lab/lab_reads.h"
#include "lab/rate_limiter.h"
#include "lab/session_store.h"

struct ReportContent;

// The web service's pages on an httplib server: the limits every request is held to, the
// login and its sessions, 报告核验, 实验 and a test's page with its downloads. Handlers run on
// the server's threads; each takes a connection of the pool for its reads.
namespace lab {

// Bounds of a request: its line and each header line (8 KB, the library's own), all its
// headers together, its body; how long a read or a write may wait; requests per connection.
inline constexpr size_t kMaxHeaderBytes = 8192;
inline constexpr size_t kMaxBodyBytes = 65536;
inline constexpr int kIoTimeoutSeconds = 5;
inline constexpr size_t kKeepAliveRequests = 100;
// Enough threads for 200 viewers of the live page (each holds one) and the other pages.
inline constexpr size_t kServerThreads = 256;
// Accepted connections that may wait for a thread; beyond them the kernel's backlog holds the
// rest, so that a flood cannot grow the service's memory.
inline constexpr size_t kWaitingConnections = 256;

inline constexpr const char* kSessionCookie = "kivo_session";

class LabService {
  public:
    // Paints a report as a PDF (on the thread that may paint); empty when it could not.
    using PdfPainter = std::function<QByteArray(const ReportContent&)>;

    LabService(LabConfig config, server::PgConnection::Options database, PdfPainter pdf);

    // Installs the limits, the routes and the error pages on `server`.
    void install(httplib::Server& server);

    // The signed-in user of a request; nothing without a valid session.
    std::optional<QString> user(const httplib::Request& request);
    bool signedIn(const httplib::Request& request) { return user(request).has_value(); }

  private:
    LabConfig m_config;
    ConnectionPool m_pool;
    PdfPainter m_pdf;
    SessionStore m_sessions;
    RateLimiter m_verifyLimit;
    RateLimiter m_loginLimit;

    std::string clientAddress(const httplib::Request& request) const;
    // The signed-in user, or a 303 to the login page (then nothing).
    std::optional<QString> requireUser(const httplib::Request& request,
                                       httplib::Response& response);
    // Runs `work` with a database connection; a failure becomes a 503 page.
    bool withDatabase(httplib::Response& response,
                      const std::function<void(server::PgConnection&)>& work);

    void login(const httplib::Request& request, httplib::Response& response);
    void logout(const httplib::Request& request, httplib::Response& response);
    void verify(const httplib::Request& request, httplib::Response& response);
    void testList(const httplib::Request& request, httplib::Response& response);
    // The test the request names, or nothing when the answer (404, the database's fault) is
    // given already.
    std::optional<LabTest> loadTest(const httplib::Request& request, httplib::Response& response);
    void testPage(const httplib::Request& request, httplib::Response& response);
    void testReport(const httplib::Request& request, httplib::Response& response);
    void testCsv(const httplib::Request& request, httplib::Response& response);
};

// The database options of the service: the configuration's connection, read-only sessions,
// statements limited in time.
server::PgConnection::Options DatabaseOptions(const LabConfig& config, const QString& password);

}  // namespace lab
