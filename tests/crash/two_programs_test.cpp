// Two copies of the program at once, each on its own instrument, one archive: a copy in a
// child process and the test's own. Neither offers the other's running test for recovery, and
// both tests end complete in the archive.

#include "program_on_archive.h"

namespace {

using archive::TestState;

class TwoPrograms : public ProgramOnArchive {};

TEST_F(TwoPrograms, TwoCopiesOnTwoInstrumentsShareTheArchiveAndBothTestsEndWhole) {
    // The child's instrument; the test's own one is started as the bench's.
    const QString otherLink = path(QStringLiteral("com1-other"));
    VirtualInstrument other(otherLink, path(QStringLiteral("other.log")),
                            {QStringLiteral("--speed"), QString::number(kSpeed)});
    ASSERT_TRUE(PumpUntil([&] { return other.linked(); }));
    auto child = startChild(otherLink, 8, true);
    ASSERT_TRUE(child->waitForLine("started", 60000));
    ASSERT_TRUE(waitForRecords(1));

    // While the child's test runs, this copy's "新建实验" asks no question of it.
    startInstrument();
    startProgram(link(), kSpeed);
    const QString childUid = onlyTest().header.uid;
    const auto unfinished = [&] {
        QString message;
        const auto reader = archive::ArchiveReader::open(archivePath(), &message);
        QStringList uids;
        if (reader)
            for (const archive::TestSummary& s : reader->unfinishedTests()) uids << s.uid;
        return uids;
    };
    ASSERT_EQ(unfinished(), QStringList{childUid});
    ASSERT_EQ(openTestWindow(4, QStringLiteral("周强"), QStringLiteral("第一检测站")),
              (QStringList{"CLoginDlg", "CParamDlg"}));
    EXPECT_EQ(m_boxes.count(), 0) << m_boxes.texts().join(' ').toStdString();
    EXPECT_EQ(unfinished(), QStringList{childUid});  // not marked interrupted either
    ASSERT_NE(form(), nullptr);
    initialise();
    m_boxes.answer({MessageBox::Cancel, MessageBox::Cancel});
    click(FormId::StartButton);
    ASSERT_TRUE(waitForTestEnd(2, 60000));
    EXPECT_EQ(m_boxes.texts(), (QStringList{"请确认是否保存图片！", "请确认是否保存数据！"}));
    const QString ownUid = ArchivedRun::uid();
    const int ownRows = form()->historyRowCount(0);

    // The child's test ends too, and the child closes its program.
    int childRows = -1;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const QByteArray& line : child->readLines(100))
                if (line.startsWith("rows ")) childRows = line.mid(5).toInt();
            return childRows >= 0;
        },
        60000));
    EXPECT_EQ(child->wait(), 0);
    closeProgram();

    // Both tests complete, every record numbered in order.
    const std::vector<archive::ArchivedTest> tests = archivedTests();
    ASSERT_EQ(tests.size(), 2u);
    for (const archive::ArchivedTest& test : tests) {
        const bool own = test.header.uid == ownUid;
        EXPECT_TRUE(own || test.header.uid == childUid);
        EXPECT_EQ(test.header.tester, own ? "周强" : "孙丽");
        EXPECT_EQ(test.state, TestState::FinishedByMinutes);
        EXPECT_EQ(StatesOf(test), (std::vector{TestState::Running, TestState::FinishedByMinutes,
                                               TestState::Closed}));
        EXPECT_TRUE(test.closed);
        ASSERT_EQ(int(test.records.size()), own ? ownRows : childRows);
        for (std::size_t r = 0; r < test.records.size(); ++r)
            EXPECT_EQ(test.records[r].number, int(r) + 1);
        EXPECT_GE(test.records.back().minutes.value_or(0), test.header.testMinutes);
    }
    // Each instrument was driven by its own copy alone.
    EXPECT_EQ(m_instrument->requests().count("00W070 1111"), 1);
    EXPECT_EQ(other.requests().count("00W070 1111"), 1);
}

}  // namespace
