#include "link/reply_decoder.h"

#include <cstdlib>

#include "platform/gbk_codec.h"
#include "state/test_state.h"
#include "link/link_view.h"

namespace {

// The reply text joined across blocks. Only its first twelve characters can ever be decoded
// (an end byte cuts it to them, and a longer text is never decoded), so one character more
// is all it keeps: enough to know that it is too long, however long the garbage runs.
std::string g_strReply;
constexpr std::size_t kAccumulatorLimit = REPLY_LENGTH + 1;
// The text in g_strReply has been decoded and has not changed since. An end byte that
// arrives apart from its twelve characters would otherwise decode the same reply twice,
// the second time perhaps against the next command.
bool g_replyDecoded = false;

// A reading as the form shows it.
QString text(const std::string& bytes) {
    return gbk::decode(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

// Decimal digits up to the first non-digit, 0 when there are none, modulo 256.
int rowNumber(const std::string& reply) {
    unsigned value = 0;
    for (std::size_t i = 0; i < 2 && reply[i] >= '0' && reply[i] <= '9'; ++i)
        value = value * 10 + static_cast<unsigned>(reply[i] - '0');
    return static_cast<int>(value % 256);
}

// The value field read as C's atoi reads it.
int32_t leadingInteger(const std::string& field) {
    std::size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    int64_t value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
        value = value * 10 + (field[i] - '0');
    return static_cast<int32_t>(negative ? -value : value);
}

void decodeTestReply(LinkView* view, const std::string& code, const std::string& value) {
    if (code == "30") {
        view->setField(LinkView::Field::Temperature, text(TrimZeros(value.substr(0, 6))));
        g_hEvtTemperature.set();
    } else if (code == "46") {
        std::string voltage = TrimZerosKeepingPoint(value);
        if (!voltage.empty()) voltage.pop_back();
        view->setField(LinkView::Field::Voltage, text(voltage));
    } else if (code == "31") {
        const int32_t count = leadingInteger(value);
        g_nInstrumentMinutes = count;
        const auto minutes = static_cast<uint32_t>(count);
        const auto duration = static_cast<uint32_t>(g_nTestMinutes);
        if (minutes < duration) {
            // Handed over before the cycle wakes, so it goes to the form with the rest of
            // this command's texts rather than a command later.
            view->setField(LinkView::Field::RemainingMinutes,
                              QString::number(static_cast<int32_t>(duration - minutes)));
            g_hEvtMinutes.set();
        } else {
            // The cycle is woken first: the end waits for the operator's answers, and the
            // cycle must not take the wait for a silence and ask again.
            g_hEvtMinutes.set();
            view->FinishTest(true, QStringLiteral("请确认是否保存图片！"));
        }
    }
}

// "10" and "40"..."48" carry a current, "60"..."68" a charge. "10" and "60" name their row in
// positions 1-2; the others in the code's second digit.
void decodeChannelReply(LinkView* view, const std::string& reply, const std::string& code,
                        const std::string& value) {
    const char kind = code[0];
    const char digit = code[1];
    const bool current = (kind == '1' && digit == '0') || (kind == '4' && digit <= '8');
    const bool charge = kind == '6' && digit <= '8';
    if ((!current && !charge) || digit < '0') return;
    const int row = digit == '0' && kind != '4' ? rowNumber(reply) : digit - '0';
    view->setReading(row, current ? LinkView::Reading::Current : LinkView::Reading::Charge,
                     text(TrimZerosKeepingPoint(value)) + (current ? "(mA)" : "(C)"));
    (current ? g_hEvtCurrent : g_hEvtCharge).set();
}

// Code 2: only the minute count, kept for the run control; the command cycle acts on it.
void decodeMinutesCheckReply(const std::string& code, const std::string& value) {
    if (code != "31") return;
    g_nInstrumentMinutes = leadingInteger(value);
    g_hEvtMinutes.set();  // after the count, which the cycle reads once it wakes
}

void decodeRunStateReply(LinkView* view, const std::string& code, const std::string& value) {
    if (code != "71") return;
    g_hEvtRunState.set();
    if (value.back() == '0') view->FinishTest(false, QStringLiteral("请确认是否保存图片2！"));
}

void decode(LinkView* view, const std::string& reply, uint8_t command) {
    const std::string code = reply.substr(2, 2);
    const std::string value = reply.substr(5, 7);
    view->setField(LinkView::Field::CommStatus, QStringLiteral("通信正常"));
    switch (command) {
        case CMD_READ_TEST:
            decodeTestReply(view, code, value);
            break;
        case CMD_CHECK_MINUTES:
            decodeMinutesCheckReply(code, value);
            break;
        case CMD_READ_CHANNELS:
            decodeChannelReply(view, reply, code, value);
            break;
        case CMD_READ_RUNSTATE:
            decodeRunStateReply(view, code, value);
            break;
        default:
            break;
    }
}

}  // namespace

std::string TrimZerosKeepingPoint(std::string text) {
    std::size_t n = 0;
    while (n < text.size() && text[n] == '0' && !(n + 1 < text.size() && text[n + 1] == '.')) ++n;
    return text.substr(n);
}

std::string TrimZeros(std::string text) {
    std::size_t n = 0;
    while (n < text.size() && text[n] == '0') ++n;
    return text.substr(n);
}

void DecodeReply(LinkView* view, const char* bytes, std::size_t count) {
    if (count == 0) return;
    std::size_t i = 0;
    if (bytes[0] == REPLY_START) {
        g_strReply.clear();
        g_replyDecoded = false;
        i = 1;
    }
    for (; i < count; ++i) {
        const char byte = bytes[i];
        if (byte == REPLY_END) {
            if (g_strReply.size() > REPLY_LENGTH) g_strReply.resize(REPLY_LENGTH);
            break;
        }
        if (byte == '\0') continue;
        if (g_strReply.size() < kAccumulatorLimit) {
            g_strReply.push_back(byte);
            g_replyDecoded = false;
        }
    }
    const uint8_t command = g_nCurCommand.load();
    if (g_strReply.size() != REPLY_LENGTH || command < 1 || command > 19 || g_replyDecoded) return;
    g_replyDecoded = true;
    decode(view, g_strReply, command);
}

const std::string& ReplyAccumulator() { return g_strReply; }

void ResetReplyAccumulator() {
    g_strReply.clear();
    g_replyDecoded = false;
}
