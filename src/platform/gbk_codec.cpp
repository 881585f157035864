#include "platform/gbk_codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace gbk {
namespace {

// Runs iconv over the whole input. Returns false when the input holds a sequence the
// target cannot take; with `replace` set such a sequence becomes `replacement` instead.
bool convert(const char* to, const char* from, const QByteArray& in, QByteArray& out,
             bool replace, const QByteArray& replacement, int skipOnError) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> buffer(static_cast<size_t>(in.size()) * 4 + 16);
    char* inPtr = const_cast<char*>(in.constData());
    size_t inLeft = static_cast<size_t>(in.size());
    bool ok = true;
    out.clear();
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        size_t outLeft = buffer.size();
        size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), static_cast<qsizetype>(buffer.size() - outLeft));
        if (rc != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) continue;
        if (!replace) {
            ok = false;
            break;
        }
        out.append(replacement);
        size_t skip = std::min(inLeft, static_cast<size_t>(skipOnError));
        inPtr += skip;
        inLeft -= skip;
    }
    iconv_close(cd);
    return ok;
}

}  // namespace

std::optional<QByteArray> encode(const QString& text) {
    // ASCII is the same in GBK, and most texts (every command, every reading) are ASCII: they
    // need no converter.
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
        return text.toLatin1();
    QByteArray out;
    if (!convert("GBK", "UTF-8", text.toUtf8(), out, false, {}, 0)) return std::nullopt;
    return out;
}

QString decode(const QByteArray& bytes) {
    if (std::all_of(bytes.begin(), bytes.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(bytes);
    QByteArray out;
    convert("UTF-8", "GBK", bytes, out, true, QByteArray("\xEF\xBF\xBD"), 1);
    return QString::fromUtf8(out);
}

bool canEncode(const QString& text) { return encode(text).has_value(); }

}  // namespace gbk
