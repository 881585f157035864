#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QTemporaryDir>

// Debian's headless Chromium driven through its DevTools protocol on a pipe (the browser
// reads commands on its descriptor 3 and answers on 4, each message JSON ended by a NUL).
// A page is opened at a size, scripts are evaluated in it (a promise is awaited), and it is
// captured as PNG. Every wait has a generous limit; the browser is killed at the end.
class HeadlessChromium {
  public:
    HeadlessChromium();
    ~HeadlessChromium();
    HeadlessChromium(const HeadlessChromium&) = delete;
    HeadlessChromium& operator=(const HeadlessChromium&) = delete;

    bool valid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }

    // Opens `url` in the browser's page at `width` x `height`, after `beforeLoad` (a script run
    // in every document before its own) is set; false (error() says why) on failure.
    bool open(const QString& url, int width = 1280, int height = 800,
              const QString& beforeLoad = {});
    // The value of `expression` in the page (a promise is awaited); an undefined value when
    // the evaluation failed (error() says why).
    QJsonValue evaluate(const QString& expression);
    // Waits (in the page, up to `limitMs`) until `condition` is true; false when it never was.
    bool waitFor(const QString& condition, int limitMs = 30000);
    // The page as PNG.
    QByteArray screenshot();

  private:
    QTemporaryDir m_profile;
    pid_t m_pid = -1;
    int m_in = -1;   // commands to the browser
    int m_out = -1;  // its answers and events
    QByteArray m_buffer;
    int m_nextId = 1;
    QString m_session;
    QString m_error;

    // Sends a command (to the page's session when `page`) and waits for its answer's result.
    QJsonObject call(const QString& method, const QJsonObject& params = {}, bool page = true,
                     int limitMs = 60000);
};
