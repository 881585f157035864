#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The instrument, the account file and the text data file all use the GBK code page (936).
// Inside the program text is held as QString; these two functions are the only crossing.
namespace gbk {

// GBK bytes of `text`, or nothing when GBK cannot hold one of its characters.
std::optional<QByteArray> encode(const QString& text);

// Text of GBK bytes; a byte sequence that is not GBK becomes U+FFFD.
QString decode(const QByteArray& bytes);

// True when GBK can hold every character of `text`.
bool canEncode(const QString& text);

}  // namespace gbk
