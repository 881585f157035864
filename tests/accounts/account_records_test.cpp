#include "accounts/account_records.h"

#include <gtest/gtest.h>

namespace {

TEST(AccountRecords, LinesLoseTheirCrButNothingElse) {
    const auto records = ParseAccountRecords("admin\r\n579\r\nbare\nlf\nlast\r\nno-end");
    ASSERT_EQ(records.size(), 3);
    EXPECT_EQ(records[0].name.raw, "admin\r");
    EXPECT_EQ(records[0].name.value, "admin");
    EXPECT_EQ(records[0].password->value, "579");
    // A file that lost its CRs reads whole.
    EXPECT_EQ(records[1].name.raw, "bare");
    EXPECT_EQ(records[1].name.value, "bare");
    EXPECT_EQ(records[1].password->value, "lf");
    // A last line without any line end is read whole too.
    EXPECT_EQ(records[2].password->raw, "no-end");
    EXPECT_EQ(records[2].password->value, "no-end");
}

TEST(AccountRecords, EmptyLinesAndADanglingName) {
    const auto records = ParseAccountRecords("\r\n\r\nbob\r\n");
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[0].name.value, "");
    EXPECT_EQ(records[0].password->value, "");
    EXPECT_EQ(records[1].name.value, "bob");
    EXPECT_FALSE(records[1].password.has_value());
    EXPECT_TRUE(ParseAccountRecords("").isEmpty());
}

TEST(AccountRecords, TheFirstRecordOfANameDecidesTheLogin) {
    const auto records =
        ParseAccountRecords("bob\r\nfirst\r\nbob\r\nsecond\r\nnil\r\n\r\ncarl\r\n");
    EXPECT_EQ(CheckLogin(records, "bob\r", "first"), LoginCheck::Accepted);
    EXPECT_EQ(CheckLogin(records, "bob\r", "second"), LoginCheck::WrongPassword);
    EXPECT_EQ(CheckLogin(records, "bob\r", "First"), LoginCheck::WrongPassword);
    // The raw line is compared: the value alone names no record.
    EXPECT_EQ(CheckLogin(records, "bob", "first"), LoginCheck::NoSuchName);
    EXPECT_EQ(CheckLogin(records, "nil\r", ""), LoginCheck::Accepted);
    EXPECT_EQ(CheckLogin(records, "nil\r", "x"), LoginCheck::WrongPassword);
    // A name without a password line never logs in, not even with an empty password.
    EXPECT_EQ(CheckLogin(records, "carl\r", ""), LoginCheck::WrongPassword);
    EXPECT_EQ(CheckLogin(records, "dave\r", ""), LoginCheck::NoSuchName);
}

TEST(AccountRecords, RemovalKeepsOtherRecordsInOrderAndADanglingName) {
    const auto records = ParseAccountRecords("a\r\n1\r\nb\r\n2\r\na\r\n3\r\nc\r\n");
    EXPECT_EQ(AccountFileWithout(records, "a"), QByteArray("b\r\n2\r\nc\r\n"));
    EXPECT_EQ(AccountFileWithout(records, "c"), QByteArray("a\r\n1\r\nb\r\n2\r\na\r\n3\r\n"));
}

}  // namespace
