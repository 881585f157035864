// Feeds the reply decoder arbitrary blocks of bytes, with the running command and the test
// duration taken from the input, and checks that the reply accumulator stays bounded.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/reply_decoder.h"
#include "state/test_state.h"
#include "link/link_view.h"

namespace {

// A form that takes every write and ignores it; the decoder's own logic is what is tested.
class NullView : public LinkView {
public:
    void setField(Field, const QString&) override {}
    void setButtonEnabled(Button, bool) override {}
    void setReading(int row, Reading, const QString&) override {
        if (row < 0) std::abort();
    }
    void channelPollDone() override {}
    void StopTest() override {}
    void FinishTest(bool, const QString&) override {}
    ResumeDecision resumeChecked(int32_t) override { return ResumeDecision::Resume; }
    bool started() const override { return false; }
    SharedEvent& stopEvent() override { return m_stop; }
    MessageBox::Result message(const QString&, const QString&, MessageBox::Buttons,
                               MessageBox::Icon) override {
        return MessageBox::Ok;
    }

private:
    SharedEvent m_stop;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static NullView view;
    if (size < 5) return 0;
    g_nCurCommand = data[0];
    int32_t minutes;
    std::memcpy(&minutes, data + 1, sizeof minutes);
    g_nTestMinutes = minutes;
    size_t pos = 5;
    // Each block: one length byte, then that many bytes (or what is left).
    while (pos < size) {
        size_t length = data[pos++] % 64 + 1;
        if (length > size - pos) length = size - pos;
        if (length == 0) break;
        DecodeReply(&view, reinterpret_cast<const char*>(data + pos), length);
        if (ReplyAccumulator().size() > REPLY_LENGTH + 1) std::abort();
        pos += length;
    }
    return 0;
}
