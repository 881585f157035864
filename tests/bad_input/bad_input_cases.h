#pragma once

#include <QString>

// Inputs an operator can type or paste into any field, shared by the tables of cases.
namespace BadInput {

inline QString Huge(QChar c = u'测') { return QString(10000, c); }
inline const QString kEmoji = QStringLiteral("😀");
inline const QString kKorean = QStringLiteral("한국어");
inline const QString kTab = QStringLiteral("a\tb");
inline const QString kNewline = QStringLiteral("a\nb");
inline const QString kSoh = QStringLiteral(
    "a\x01"
    "b");

inline const QString kNotInteger = QStringLiteral("请键入一个整数。");

}  // namespace BadInput
