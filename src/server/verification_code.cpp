#include "server/verification_code.h"

#include <QCryptographicHash>
#include <QUrl>
#include <QUrlQuery>

namespace server {

QString VerificationCode(const QString& reportNumber, const TestAccount& a) {
    const QStringList parts{reportNumber,
                            a.header,
                            QString::number(a.states),
                            a.statesSum,
                            QString::number(a.records),
                            a.recordsSum,
                            QString::number(a.polls),
                            a.pollsSum};
    const QByteArray digest =
        QCryptographicHash::hash(parts.join(QChar(31)).toUtf8(), QCryptographicHash::Sha256);
    quint64 bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | quint8(digest[i]);
    const QString digits =
        QStringLiteral("%1").arg(bits % 1000000000000ULL, 12, 10, QLatin1Char('0'));
    return digits.left(4) + QLatin1Char('-') + digits.mid(4, 4) + QLatin1Char('-') + digits.mid(8);
}

QString NormalisedVerificationCode(const QString& typed) {
    QString digits;
    for (const QChar c : typed) {
        if (c.isSpace() || c == QLatin1Char('-') || c == QChar(0xFF0D) || c == QChar(0x3000))
            continue;
        const int value = c.digitValue();  // also the full-width digits
        if (value < 0 || value > 9) return {};
        digits += QChar(u'0' + value);
    }
    if (digits.size() != 12) return {};
    return digits.left(4) + QLatin1Char('-') + digits.mid(4, 4) + QLatin1Char('-') + digits.mid(8);
}

QString VerifyUrl(const QString& base, const QString& reportNumber, const QString& code) {
    QString trimmed = base.trimmed();
    while (trimmed.endsWith(QLatin1Char('/'))) trimmed.chop(1);
    if (trimmed.isEmpty()) return {};
    QUrl url(trimmed + QStringLiteral("/verify"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("n"), reportNumber);
    query.addQueryItem(QStringLiteral("c"), code);
    url.setQuery(query);
    return url.toString(QUrl::FullyEncoded);
}

}  // namespace server
