#pragma once

#include <string>

// A pseudo-terminal in raw mode with a symbolic link to its terminal side. The link's slave
// side stays open here as well, so the master never reads a hang-up when the program closes
// and reopens the port.
class PtyLink {
  public:
    PtyLink() = default;
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    // Makes the terminal and the link; on failure returns false with a message in `error`.
    // An existing symbolic link at `linkPath` is replaced; anything else there is left alone.
    bool open(const std::string& linkPath, std::string& error);
    // Removes the link if it still points at this terminal.
    void removeLink();

    int masterFd() const { return m_master; }
    const std::string& slaveName() const { return m_slaveName; }

  private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slaveName;
    std::string m_linkPath;
};
