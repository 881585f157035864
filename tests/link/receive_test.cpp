#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "link/reply_frame.h"
#include "link_fixture.h"
#include "monitor/form_ids.h"
#include "platform/serial_port.h"

namespace {

std::string frame(const std::string& text) { return "\x04" + text + "\x05"; }

TEST(ReplyFrame, OnlyABegunFrameWithoutItsEndOrTwelveCharactersIsWaitedFor) {
    auto missing = [](const std::string& block) {
        return MissingReplyBytes(block.data(), block.size());
    };
    EXPECT_EQ(missing("\x04"), 13u);
    EXPECT_EQ(missing("\x04"
                      "0110 00"),
              6u);
    EXPECT_EQ(missing(std::string("\x04"
                                  "01\0"
                                  "10",
                                  6)),
              8u);  // a zero byte adds nothing
    EXPECT_EQ(missing("\x04"
                      "0110 0010.0"),
              2u);
    // Twelve characters decode at the end of the block, whatever comes next: no waiting.
    EXPECT_EQ(missing("\x04"
                      "0110 0010.00"),
              0u);
    EXPECT_EQ(missing("\x04"
                      "0110\x05"),
              0u);                      // the end byte is there
    EXPECT_EQ(missing("0110 00"), 0u);  // no start byte: a piece of something else
    EXPECT_EQ(missing(""), 0u);
    EXPECT_EQ(missing(frame("0110 0010.00") + "x"), 0u);
}

std::mutex g_blockMutex;
std::vector<std::string> g_blocks;

void recordBlock(LinkView*, const char* bytes, std::size_t count) {
    std::lock_guard lock(g_blockMutex);
    g_blocks.emplace_back(bytes, count);
}

std::vector<std::string> blocks() {
    std::lock_guard lock(g_blockMutex);
    return g_blocks;
}

std::string joined() {
    std::string all;
    for (const std::string& b : blocks()) all += b;
    return all;
}

using Receiving = LinkTest;

// A reply coming a byte at a time is handed over whole instead of waking the receive thread
// for every byte. At 300 baud the thread sleeps through the characters still missing (a third
// of a second here) while the test writes them within a few milliseconds, so a slow machine
// does not split the reply.
TEST_F(Receiving, AReplyComingAByteAtATimeReachesTheDecoderInOnePiece) {
    {
        std::lock_guard lock(g_blockMutex);
        g_blocks.clear();
    }
    SetReceiveSinkForTests(&recordBlock);
    ASSERT_TRUE(
        OpenPort(QStringLiteral("COM1"), 300, 8, SerialPort::OneStopBit, SerialPort::NoParity));
    g_bLinkActive = 1;
    std::thread receiver(&ReceiveThreadProc, std::shared_ptr<LinkView>(view));
    const std::string reply = frame("0210 0012.50");
    for (char c : reply) {
        pty.write(std::string(1, c));
        std::this_thread::sleep_for(std::chrono::microseconds(1042));
    }
    EXPECT_TRUE(pumpUntil([&] { return joined() == reply; }));
    EXPECT_EQ(blocks(), std::vector<std::string>({reply}));
    g_bLinkActive = 0;
    receiver.join();
}

// At 300 baud a character takes 33 ms, so the test's own writes fall well inside the time
// the receive thread gives a begun frame.
TEST_F(Receiving, ANewStartByteOrAQuietLineEndsTheWaitForTheRestOfAFrame) {
    {
        std::lock_guard lock(g_blockMutex);
        g_blocks.clear();
    }
    SetReceiveSinkForTests(&recordBlock);
    ASSERT_TRUE(
        OpenPort(QStringLiteral("COM1"), 300, 8, SerialPort::OneStopBit, SerialPort::NoParity));
    g_bLinkActive = 1;
    std::thread receiver(&ReceiveThreadProc, std::shared_ptr<LinkView>(view));

    // A frame broken off and the next one right behind it: the new start byte begins a new
    // block, so the second reply is decoded as it would be on its own.
    const std::string broken =
        "\x04"
        "0310 00";
    const std::string reply = frame("0210 0012.50");
    pty.write(broken);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    pty.write(reply);
    ASSERT_TRUE(pumpUntil([&] { return joined() == broken + reply; }));
    EXPECT_EQ(blocks(), std::vector<std::string>({broken, reply}));

    // A piece whose rest never comes goes over once the line has been quiet for the time
    // the rest would have needed.
    {
        std::lock_guard lock(g_blockMutex);
        g_blocks.clear();
    }
    pty.write(
        "\x04"
        "0410");
    EXPECT_TRUE(pumpUntil([&] {
        return joined() ==
               "\x04"
               "0410";
    }));
    EXPECT_EQ(blocks().size(), 1u);

    g_bLinkActive = 0;
    receiver.join();
}

TEST_F(Receiving, AnEndByteArrivingApartDoesNotDecodeTheReplyAgain) {
    g_nCurCommand = CMD_READ_CHANNELS;
    const std::string text =
        "\x04"
        "0210 0012.50";
    DecodeReply(view.get(), text.data(), text.size());
    g_hEvtCurrent.reset();
    g_nCurCommand = CMD_READ_TEST;  // the cycle has moved on meanwhile
    DecodeReply(view.get(), "\x05", 1);
    EXPECT_EQ(view->cellWriteAttempts(), 1);
    EXPECT_EQ(view->itemWrites().size(), 1u);
    EXPECT_FALSE(g_hEvtCurrent.isSet());
    // A new frame with the very same text is a new reply.
    g_nCurCommand = CMD_READ_CHANNELS;
    const std::string again = frame("0210 0012.50");
    DecodeReply(view.get(), again.data(), again.size());
    EXPECT_EQ(view->cellWriteAttempts(), 2);
}

// A form whose first status write is held on the GUI thread until the test lets it go.
class HeldView : public RecordingView {
  public:
    void setField(Field field, const QString& text) override {
        {
            std::unique_lock lock(m_holdMutex);
            if (!m_heldOnce) {
                m_heldOnce = true;
                m_holding = true;
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return !m_holding; });
            }
        }
        RecordingView::setField(field, text);
    }
    bool holding() {
        std::lock_guard lock(m_holdMutex);
        return m_holding;
    }
    void release() {
        std::lock_guard lock(m_holdMutex);
        m_holding = false;
        m_changed.notify_all();
    }

  private:
    std::mutex m_holdMutex;
    std::condition_variable m_changed;
    bool m_heldOnce = false;
    bool m_holding = false;
};

// The port command reopens the link while the old receive thread is in the middle of a
// decode: the new thread does not read until the old one has finished it, so each reading
// lands in its own row.
TEST_F(Receiving, AReopenWaitsForTheDecodeInProgressOfTheOldReceiveThread) {
    auto held = std::make_shared<HeldView>();
    view = held;
    g_nCurCommand = CMD_READ_CHANNELS;
    g_bLinkActive = 1;
    ASSERT_TRUE(OpenLink(held, 0));
    pty.write(frame("0010 0011.11"));
    ASSERT_TRUE(pumpUntil([&] { return held->holding(); }));

    Pty second;
    setenv("KIVO_COM1", second.slavePath().c_str(), 1);
    CloseLink();
    ASSERT_TRUE(OpenLink(held, 0));
    second.write(frame("0310 0033.33"));
    pumpFor(150);
    EXPECT_EQ(held->cellWriteAttempts(), 0);  // the new thread has not decoded anything yet

    held->release();
    ASSERT_TRUE(pumpUntil([&] { return held->cellWriteAttempts() == 2; }));
    EXPECT_EQ(held->channelCell(0, ChannelColumn::Current), "11.11(mA)");
    EXPECT_EQ(held->channelCell(3, ChannelColumn::Current), "33.33(mA)");
    EXPECT_EQ(held->cellCount(), 2);
    EXPECT_EQ(boxes.count(), 0);
}

}  // namespace
