#include "server/verification_code.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <functional>
#include <vector>

namespace {

server::TestAccount Account() {
    server::TestAccount a;
    a.header = QStringLiteral("123456789");
    a.states = 3;
    a.statesSum = QStringLiteral("777");
    a.records = 73;
    a.recordsSum = QStringLiteral("88888");
    a.polls = 10800;
    a.pollsSum = QStringLiteral("9999999");
    return a;
}

// The code is twelve digits that follow the report number and every part of the content.
TEST(VerificationCode, ChangesWithTheNumberAndEveryPartOfTheContent) {
    const QString number = QStringLiteral("DTL-20261210-1a2b3c4d");
    const QString code = server::VerificationCode(number, Account());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d{4}-\\d{4}$")).match(code).hasMatch())
        << code.toStdString();
    EXPECT_EQ(server::VerificationCode(number, Account()), code);

    const std::vector<std::function<void(server::TestAccount&)>> changes{
        [](auto& a) { a.header = QStringLiteral("123456780"); }, [](auto& a) { a.states = 4; },
        [](auto& a) { a.statesSum = QStringLiteral("778"); },    [](auto& a) { a.records = 72; },
        [](auto& a) { a.recordsSum = QStringLiteral("88889"); }, [](auto& a) { a.polls = 10799; },
        [](auto& a) { a.pollsSum = QStringLiteral("9999998"); },
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        server::TestAccount changed = Account();
        changes[i](changed);
        EXPECT_NE(server::VerificationCode(number, changed), code) << "change " << i;
    }
    EXPECT_NE(server::VerificationCode(QStringLiteral("DTL-20261210-1a2b3c4e"), Account()), code);
}

TEST(VerificationCode, TypedFormsAreReadAndOthersRefused) {
    const struct {
        const char16_t* typed;
        const char* expected;
    } cases[] = {
        {u"4821-0937-5512", "4821-0937-5512"},
        {u" 4821 0937 5512 ", "4821-0937-5512"},
        {u"482109375512", "4821-0937-5512"},
        {u"４８２１－０９３７－５５１２", "4821-0937-5512"},
        {u"4821-0937-551", ""},
        {u"4821-0937-55123", ""},
        {u"4821-O937-5512", ""},
        {u"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(server::NormalisedVerificationCode(QString::fromUtf16(c.typed)),
                  QString::fromUtf8(c.expected))
            << QString::fromUtf16(c.typed).toStdString();
}

TEST(VerificationCode, TheQrAddressAsksTheLabsVerifyPage) {
    EXPECT_EQ(
        server::VerifyUrl(QStringLiteral("https://lab.example/kivo/"),
                          QStringLiteral("DTL-20261210-1a2b3c4d"),
                          QStringLiteral("4821-0937-5512")),
        QStringLiteral("https://lab.example/kivo/verify?n=DTL-20261210-1a2b3c4d&c=4821-0937-5512"));
    EXPECT_EQ(server::VerifyUrl(QStringLiteral("  "), QStringLiteral("DTL-1"), QStringLiteral("1")),
              QString());
}

}  // namespace
