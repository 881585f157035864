#include "pty_link.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string Reason(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

PtyLink::~PtyLink() {
    removeLink();
    if (m_slave >= 0) ::close(m_slave);
    if (m_master >= 0) ::close(m_master);
}

bool PtyLink::open(const std::string& linkPath, std::string& error) {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        error = Reason("cannot make a pseudo-terminal");
        return false;
    }
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        error = Reason("cannot unlock the pseudo-terminal");
        return false;
    }
    char name[256];
    if (::ptsname_r(m_master, name, sizeof name) != 0) {
        error = Reason("cannot name the pseudo-terminal");
        return false;
    }
    m_slaveName = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0) {
        error = Reason("cannot open the terminal side");
        return false;
    }
    termios tio{};
    if (::tcgetattr(m_slave, &tio) != 0) {
        error = Reason("cannot read the terminal settings");
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(m_slave, TCSANOW, &tio) != 0) {
        error = Reason("cannot put the terminal in raw mode");
        return false;
    }
    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = Reason("cannot make the pseudo-terminal non-blocking");
        return false;
    }

    struct stat st {};
    if (::lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = linkPath + " exists and is not a symbolic link; not replacing it";
        return false;
    }
    // Made under a temporary name and renamed, so the path never points nowhere.
    const std::string temp = linkPath + ".kivo-sim-" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(m_slaveName.c_str(), temp.c_str()) != 0) {
        error = Reason(("cannot create the link " + linkPath).c_str());
        return false;
    }
    if (::rename(temp.c_str(), linkPath.c_str()) != 0) {
        error = Reason(("cannot create the link " + linkPath).c_str());
        ::unlink(temp.c_str());
        return false;
    }
    m_linkPath = linkPath;
    return true;
}

void PtyLink::removeLink() {
    if (m_linkPath.empty()) return;
    std::vector<char> target(m_slaveName.size() + 2);
    const ssize_t n = ::readlink(m_linkPath.c_str(), target.data(), target.size());
    if (n >= 0 && std::string(target.data(), static_cast<std::size_t>(n)) == m_slaveName)
        ::unlink(m_linkPath.c_str());
    m_linkPath.clear();
}
