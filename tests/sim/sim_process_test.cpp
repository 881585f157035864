#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kSimPath = std::string(KIVO_BINARY_DIR) + "/tools/kivo-sim/kivo-sim";

std::string MakeTempDir() {
    std::string pattern = ::testing::TempDir() + "kivo-sim-XXXXXX";
    if (!::mkdtemp(pattern.data())) return {};
    return pattern;
}

// A kivo-sim started for one test; stopped with SIGTERM at the end.
class SimProcess {
  public:
    // Starts the simulator and waits for its first line; false if it did not come.
    bool start(const std::vector<std::string>& args) {
        int out[2];
        if (::pipe(out) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> all = {kSimPath};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc =
            ::posix_spawn(&m_pid, kSimPath.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            m_pid = -1;
            ::close(out[0]);
            return false;
        }
        m_firstLine = readLine(out[0], 30000);
        ::close(out[0]);
        return !m_firstLine.empty();
    }

    // Sends SIGTERM and returns the exit status (-1 when it did not exit normally).
    int stop() {
        if (m_pid <= 0) return -1;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~SimProcess() { stop(); }

    void signal(int sig) const { ::kill(m_pid, sig); }
    const std::string& firstLine() const { return m_firstLine; }

  private:
    static std::string readLine(int fd, int timeoutMs) {
        std::string line;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        char c = 0;
        while (Clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            if (::read(fd, &c, 1) != 1) break;
            if (c == '\n') return line;
            line += c;
        }
        return {};
    }
    pid_t m_pid = -1;
    std::string m_firstLine;
};

// The program's side of the link: a plain descriptor in raw mode.
int OpenPort(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

void Send(int fd, const std::string& bytes) {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Bytes up to and including the first 0x05, or whatever came within the time.
std::string ReadReply(int fd, int timeoutMs) {
    std::string got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline && got.find('\x05') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        char buf[64];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

std::string Ask(int fd, const std::string& frame, int timeoutMs = 30000) {
    Send(fd, frame);
    return ReadReply(fd, timeoutMs);
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class SimProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = MakeTempDir();
        ASSERT_FALSE(dir.empty());
        link = dir + "/com1";
        log = dir + "/requests.log";
    }
    void TearDown() override {
        ::unlink(log.c_str());
        ::unlink(link.c_str());
        ::rmdir(dir.c_str());
    }
    std::string dir, link, log;
};

TEST_F(SimProcessTest, AnswersOverTheLinkLogsAndFallsSilentOnSignal) {
    // A link left behind by an earlier run is replaced.
    ASSERT_EQ(::symlink("/nonexistent/pts", link.c_str()), 0);

    SimProcess sim;
    ASSERT_TRUE(sim.start({"--link", link, "--log", log, "--speed", "60"}));
    EXPECT_EQ(sim.firstLine(), link);
    int fd = OpenPort(link);
    ASSERT_GE(fd, 0);

    const std::regex temperature(
        "\x04"
        "0030 \\d{4}\\.\\d{2}\x05");
    const std::regex current(
        "\x04"
        "0010 \\d{4}\\.\\d{2}\x05");
    EXPECT_TRUE(std::regex_match(Ask(fd, "S00R030E"), temperature));
    EXPECT_TRUE(std::regex_match(Ask(fd, "S10R010E"), current));
    EXPECT_EQ(Ask(fd, "S02R071E"),
              "\x04"
              "0071 0000000\x05");
    Send(fd, "S01W071 1111E");
    // Garbage in front and a frame in two writes are taken as well.
    Send(fd, "\x01zzS02R0");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Ask(fd, "71E"),
              "\x04"
              "0071 0000001\x05");

    // The program may close and reopen its port at any time.
    ::close(fd);
    fd = OpenPort(link);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Ask(fd, "S15R060E").substr(0, 6),
              "\x04"
              "0560 ");

    // The simulator takes a signal when it gets to it: asked until it falls silent, then
    // until it answers again.
    const auto askedUntil = [&](const std::function<bool(const std::string&)>& done) {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline)
            if (done(Ask(fd, "S00R030E", 300))) return true;
        return false;
    };
    sim.signal(SIGUSR1);
    EXPECT_TRUE(askedUntil([](const std::string& reply) { return reply.empty(); }));
    sim.signal(SIGUSR2);
    EXPECT_TRUE(
        askedUntil([&](const std::string& reply) { return std::regex_match(reply, temperature); }));
    ::close(fd);

    EXPECT_EQ(sim.stop(), 0);
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link is removed on SIGTERM";

    // Then "00R030" as often as it was asked while the signals were on their way, twice at
    // least (once unanswered, once answered).
    std::vector<std::string> expected = {"00R030",      "10R010", "02R071",
                                         "01W071 1111", "02R071", "15R060"};
    const std::vector<std::string> lines = ReadLines(log);
    ASSERT_GE(lines.size(), expected.size() + 2);
    expected.resize(lines.size(), "00R030");
    long previous = -1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, std::regex("(\\d+)\t(.*)"))) << lines[i];
        EXPECT_EQ(m[2].str(), expected[i]);
        EXPECT_GE(std::stol(m[1].str()), previous);
        previous = std::stol(m[1].str());
    }
}

TEST_F(SimProcessTest, LineTimingHoldsTheRoundTripToTheLineSpeed) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--link", link, "--line-timing"}));
    const int fd = OpenPort(link);
    ASSERT_GE(fd, 0);
    // Eight request bytes in, fourteen reply bytes out, 1.04 ms each at least.
    const auto sent = Clock::now();
    const std::string reply = Ask(fd, "S00R030E");
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
    EXPECT_EQ(reply.size(), 14u);
    EXPECT_GE(ms, 22 * 10000.0 / 9600.0 - 0.5);
    ::close(fd);
    EXPECT_EQ(sim.stop(), 0);
}

TEST_F(SimProcessTest, RefusesBadArgumentsAndForeignFiles) {
    auto run = [](std::vector<std::string> args) {
        std::vector<char*> argv;
        std::string prog = kSimPath;
        argv.push_back(prog.data());
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        int status = 0;
        if (::posix_spawn(&pid, prog.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            return -1;
        posix_spawn_file_actions_destroy(&actions);
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run({"--link", link, "--speed", "0"}), 2);
    EXPECT_EQ(run({"--help"}), 0);

    // A file that is not a link is never overwritten.
    std::ofstream(link) << "keep me";
    EXPECT_EQ(run({"--link", link}), 1);
    EXPECT_EQ(ReadLines(link), std::vector<std::string>{"keep me"});
}

// A test that crashes must not leave its instrument running (holding ctest's output open
// until the time-out): the simulator ends with the process that started it.
TEST_F(SimProcessTest, EndsWithTheProcessThatStartedIt) {
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    // A shell starts the simulator and then waits for its input to end.
    std::vector<std::string> args = {"/bin/sh", "-c", "\"$0\" --link \"$1\" >/dev/null & read x",
                                     kSimPath, link};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t shell = -1;
    const int rc = ::posix_spawn(&shell, "/bin/sh", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ASSERT_EQ(rc, 0);
    auto linked = [&] {
        struct stat st {};
        return ::lstat(link.c_str(), &st) == 0;
    };
    auto waitFor = [](const std::function<bool()>& done) {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!done() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return done();
    };
    EXPECT_TRUE(waitFor(linked));

    ::close(input[1]);  // the shell ends; the simulator was not told anything
    ::waitpid(shell, nullptr, 0);
    EXPECT_TRUE(waitFor([&] { return !linked(); })) << "the simulator outlived its parent";
}

}  // namespace
