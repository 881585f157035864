#include <gtest/gtest.h>

#include "accounts/account_records.h"

namespace {

// Cases the dialogs cannot reach: lines that are not whole records.
TEST(AccountRecords, ADanglingNameNeverLogsInAndSurvivesRemovalOfOthers) {
    const auto records = ParseAccountRecords("a\r\n1\r\n\r\n\r\nc\r\n");
    ASSERT_EQ(records.size(), 3);
    EXPECT_EQ(records[1].name.value, "");
    EXPECT_EQ(records[1].password->value, "");
    EXPECT_FALSE(records[2].password.has_value());
    EXPECT_EQ(CheckLogin(records, "c\r", ""), LoginCheck::WrongPassword);
    EXPECT_EQ(CheckLogin(records, "\r", ""), LoginCheck::Accepted);
    // The login list holds raw lines: the value alone names no record.
    EXPECT_EQ(CheckLogin(records, "a", "1"), LoginCheck::NoSuchName);
    EXPECT_EQ(AccountFileWithout(records, "a"), QByteArray("\r\n\r\nc\r\n"));
    EXPECT_TRUE(ParseAccountRecords("").isEmpty());
}

}  // namespace
