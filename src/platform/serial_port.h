#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>

// One open serial device, configured as the instrument needs it. This is the only code of
// the program that knows about termios.
//
// Any thread may read, write and close the port at the same time: the device is closed only
// when no thread is inside a read or a write on it, and closing wakes those that are, so a
// closed descriptor number is never used again by mistake.
class SerialPort {
  public:
    // The line settings, numbered as the design numbers them.
    enum StopBits { OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2 };
    enum Parity { NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4 };

    struct LineSettings {
        int baudRate = 9600;
        int dataBits = 8;
        int stopBits = OneStopBit;
        int parity = NoParity;
    };

    // Which step of opening failed, so that the caller can tell the operator.
    enum class OpenStep {
        None,
        Open,      // the device cannot be opened (err tells why)
        Lock,      // another program holds the device
        Settings,  // the line settings were refused
        Timeouts,  // the read timing was refused
    };
    struct OpenFailure {
        OpenStep step = OpenStep::None;
        int err = 0;  // errno of the failed call, 0 when the values themselves were refused
    };

    enum class ReadStatus {
        Data,     // `count` bytes were read
        Nothing,  // nothing arrived within the wait
        Closed,   // the port has been closed
        HungUp,   // the device is gone (adapter pulled out, far end closed)
        Woken,    // one of the descriptors to wake on became readable first
    };
    struct ReadResult {
        ReadStatus status = ReadStatus::Nothing;
        std::size_t count = 0;
    };

    // Opens `path` for exclusive use and applies `settings`, raw, with no flow control,
    // then discards whatever waits in either direction. Exclusive twice over: an advisory
    // lock (flock) for programs that ask for it, and the terminal's own exclusive mode
    // (TIOCEXCL), which turns away every later open() of the device, lock or no lock.
    // Null on failure, with `failure` set.
    static std::shared_ptr<SerialPort> open(const std::string& path, const LineSettings& settings,
                                            OpenFailure* failure);

    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Waits at most `waitMs` (without end when negative) for input and reads what is there,
    // at most `capacity` bytes. The wait also ends when the port closes or when one of
    // `wakeOn` (descriptors such as a ManualResetEvent's) becomes readable. After a hang-up
    // the device is released and every later read reports HungUp at once.
    ReadResult read(char* buffer, std::size_t capacity, int waitMs,
                    std::initializer_list<int> wakeOn = {});

    // Sleeps for `time` unless the port closes first (false then). Input does not end it:
    // this is how a reader lets the rest of a frame come in before it reads again.
    bool sleepWhileOpen(std::chrono::microseconds time);

    // How long one character takes on the line: start bit, data bits, parity, stop bits.
    std::chrono::microseconds characterTime() const { return m_characterTime; }

    // Writes `data` whole, as one frame that no other thread's frame can split. Gives up
    // when the port closes, the device fails, or the output stays blocked for
    // `stallLimitMs`. True when every byte was handed to the driver.
    bool write(const char* data, std::size_t size, int stallLimitMs = 1000);

    // Closes the device; waits for threads inside read or write to leave (they are woken).
    void close();
    bool isOpen() const;
    // The device reported a hang-up or an I/O error and has been released.
    bool hungUp() const { return m_hungUp.load(); }
    const std::string& path() const { return m_path; }

  private:
    SerialPort(std::string path, int fd, int wakeFd, std::chrono::microseconds characterTime);

    // Counts a thread in; false when the port is closed.
    bool enter();
    void leave();
    // Marks the device as gone and releases it (called by a reader or writer once it has left).
    void releaseAfterHangUp();

    const std::string m_path;
    const int m_fd;
    const int m_wakeFd;  // becomes readable when the port closes, waking poll()
    const std::chrono::microseconds m_characterTime;

    mutable std::mutex m_useMutex;
    std::condition_variable m_idle;
    int m_users = 0;
    bool m_closed = false;
    bool m_released = false;  // the descriptor has been closed

    std::mutex m_writeMutex;  // one frame at a time
    std::atomic<bool> m_hungUp{false};
};
