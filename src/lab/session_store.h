#pragma once

#include <QString>
#include <map>
#include <mutex>
#include <optional>
#include <string>

// The signed-in users' sessions, in memory (a restart signs everyone out): each a random
// 32-byte id, given to the browser as the cookie, with its user and its end. Any thread.
namespace lab {

class SessionStore {
  public:
    SessionStore(qint64 lifetimeMs, size_t maxSessions = 10000)
        : m_lifetimeMs(lifetimeMs), m_max(maxSessions) {}

    // A new session of `user` from `nowMs` on, signed in with the account's password `hash`
    // (a changed hash ends it); its id (64 hexadecimal digits).
    std::string open(const QString& user, qint64 nowMs, const QString& hash = {});
    // The user of session `id` while it lasts.
    std::optional<QString> user(const std::string& id, qint64 nowMs);
    // The account's hash the session was opened with; empty for no session.
    QString hash(const std::string& id) const;
    void close(const std::string& id);
    size_t size() const;

  private:
    struct Session {
        QString user;
        qint64 endsMs;
        QString hash;
    };
    mutable std::mutex m_mutex;
    std::map<std::string, Session> m_sessions;
    qint64 m_lifetimeMs;
    size_t m_max;
};

// The value of cookie `name` in a Cookie header; empty when it is not there.
std::string CookieValue(const std::string& header, const std::string& name);

}  // namespace lab
