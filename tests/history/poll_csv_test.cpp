#include "export/poll_csv.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>

#include "export/file_replace.h"
#include "history_fixture.h"

namespace {

archive::PollRow Poll(qint64 atMs, int minutes, double current) {
    archive::PollRow p;
    p.atMs = atMs;
    p.minutes = minutes;
    p.voltage = QStringLiteral("60.0");
    p.temperature = QStringLiteral("25.5");
    for (int ch = 0; ch < 6; ++ch) {
        p.current[ch] = QString::asprintf("%.2f(mA)", current + ch);
        p.charge[ch] = QString::asprintf("%.1f(C)", current * minutes + ch);
    }
    return p;
}

}  // namespace

TEST(PollCsv, ReadingNumbersKeepTheirDigitsAndDropTheirUnit) {
    EXPECT_EQ(ReadingNumber("12.50(mA)"), "12.50");
    EXPECT_EQ(ReadingNumber("1234.5(C)"), "1234.5");
    EXPECT_EQ(ReadingNumber(" 60.0 "), "60.0");
    EXPECT_EQ(ReadingNumber("0030"), "0030");
    EXPECT_EQ(ReadingNumber("-1.5"), "-1.5");
    for (const char* text : {"", "-", "通信故障", "12.5(mA)x", "1.2.3", "(mA)", "1e5"})
        EXPECT_EQ(ReadingNumber(QString::fromUtf8(text)), "") << text;
}

TEST(PollCsv, EveryPollIsARowThatPythonsCsvModuleReadsWithItsRecordNumber) {
    const qint64 t0 = QDateTime(QDate(2026, 12, 8), QTime(12, 37, 9)).toMSecsSinceEpoch();
    std::vector<archive::PollRow> polls;
    for (int i = 0; i < 5; ++i) polls.push_back(Poll(t0 + 2000 * i, i, 100.0 + i));
    polls[3].current[2] = QStringLiteral("通信故障");  // not a number: left empty
    polls[3].charge[5].clear();
    polls[4].minutes.reset();
    // Record 1 at the instant of poll 0; record 2 between polls 2 and 3 comes from poll 2;
    // a record before the first poll has no row.
    std::vector<archive::RecordRow> records(3);
    records[0].number = 1;
    records[0].atMs = t0;
    records[1].number = 2;
    records[1].atMs = t0 + 5000;
    records[2].number = 3;
    records[2].atMs = t0 - 1;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("数据.csv"));
    const QByteArray bytes = BuildPollCsv(polls, records);
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    ASSERT_TRUE(ReplaceFileContents(path, bytes));
    const QJsonArray rows = ReadCsvWithPython(path);
    ASSERT_EQ(rows.size(), 6);
    const QJsonArray header = rows[0].toArray();
    ASSERT_EQ(header.size(), 4 + 12 + 1);
    EXPECT_EQ(header[0].toString(), "时间");
    EXPECT_EQ(header[3].toString(), "温度(℃)");
    EXPECT_EQ(header[4].toString(), "通道1电流(mA)");
    EXPECT_EQ(header[15].toString(), "通道6电量(C)");
    EXPECT_EQ(header[16].toString(), "记录号");

    const QJsonArray first = rows[1].toArray();
    EXPECT_EQ(first[0].toString(), "2026-12-08 12:37:09");
    EXPECT_EQ(first[1].toString(), "0");
    EXPECT_EQ(first[2].toString(), "60.0");
    EXPECT_EQ(first[3].toString(), "25.5");
    EXPECT_EQ(first[4].toString(), "100.00");
    EXPECT_EQ(first[5].toString(), "0.0");
    EXPECT_EQ(first[16].toString(), "1");
    EXPECT_EQ(rows[2].toArray()[16].toString(), "");
    EXPECT_EQ(rows[3].toArray()[0].toString(), "2026-12-08 12:37:13");
    EXPECT_EQ(rows[3].toArray()[16].toString(), "2");
    const QJsonArray fourth = rows[4].toArray();
    EXPECT_EQ(fourth[8].toString(), "");  // channel 3's current
    EXPECT_EQ(fourth[9].toString(), "311.0");
    EXPECT_EQ(fourth[15].toString(), "");            // channel 6's charge
    EXPECT_EQ(rows[5].toArray()[1].toString(), "");  // no minute count
    for (const QJsonValue& row : rows) EXPECT_EQ(row.toArray().size(), 17);
}
