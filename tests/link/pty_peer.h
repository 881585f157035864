#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A pseudo-terminal for the link tests: the program opens the slave as its serial port,
// the test works the master end as the instrument would.
class Pty {
  public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slavePath() const { return m_slavePath; }
    int master() const { return m_master; }

    // Bytes the program wrote, read until `count` have come or `timeoutMs` passed.
    std::string read(std::size_t count, int timeoutMs);
    // Everything that arrives until the line has been quiet for `quietMs`.
    std::string readUntilQuiet(int quietMs);
    void write(const std::string& bytes);
    // The far end goes away (the instrument's cable pulled out).
    void closeMaster();

  private:
    int m_master = -1;
    std::string m_slavePath;
};

// The instrument's side of the protocol on a Pty, run by a thread of its own. Every request
// frame "S" + text + "E" is recorded; the script gives the twelve-character reply text, or
// nothing for silence. `nth` counts the frames with the same text, from 1.
class ScriptedPeer {
  public:
    using Script = std::function<std::optional<std::string>(const std::string& text, int nth)>;

    ScriptedPeer(Pty& pty, Script script);
    ~ScriptedPeer();

    std::vector<std::string> requests() const;
    int count(const std::string& text) const;
    void stop();

    // Replies of a healthy instrument: temperature 25.30, 12 minutes, running, and channel
    // row r (address 10 + r) carrying a current of 1r.50 mA and a charge of 2r.25 C.
    static std::optional<std::string> instrument(const std::string& text);

  private:
    void run();

    Pty& m_pty;
    Script m_script;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
