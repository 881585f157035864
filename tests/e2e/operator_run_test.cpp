// Three tests as an operator runs them, through the real windows, against the virtual
// instrument: one to its end, one ended by the instrument, one with the cable pulled.

#include <QDate>
#include <QRegularExpression>

#include "export/report_plan.h"
#include "operator_fixture.h"

namespace {

// The channel requests of one poll, in the order the command cycle makes them.
const QStringList kChannelPoll = {"10R010", "10R060", "11R010", "11R060", "12R010", "12R060",
                                  "13R010", "13R060", "14R010", "14R060", "15R010", "15R060"};

// Every channel request follows the one before it in poll order (a poll cut short by the
// end of the test starts over at 10R010); returns the number of whole polls.
int ExpectChannelPollsInOrder(const QStringList& requests) {
    int previous = -1;
    int whole = 0;
    for (const QString& r : requests) {
        const int at = static_cast<int>(kChannelPoll.indexOf(r));
        if (at < 0) continue;
        EXPECT_TRUE(at == 0 || at == previous + 1)
            << r.toStdString() << " after "
            << (previous < 0 ? "nothing" : kChannelPoll[previous].toStdString());
        if (at == kChannelPoll.size() - 1) ++whole;
        previous = at;
    }
    return whole;
}

QStringList Writes(const QStringList& requests) {
    QStringList writes;
    for (const QString& r : requests)
        if (r.size() > 2 && r[2] == 'W') writes << r;
    return writes;
}

QString TodayAsTheFormShowsIt() {
    const QDate d = QDate::currentDate();
    return QStringLiteral("%1-%2-%3").arg(d.year()).arg(d.month()).arg(d.day());
}

}  // namespace

TEST_F(OperatorRun, AShortTestRunsToItsEndAndEveryExportHoldsItsRecords) {
    constexpr int kMinutes = 3;
    const QString tester = QStringLiteral("王建国");
    const QString organisation = QStringLiteral("市建设工程质量检测中心");
    startBench(30);
    ASSERT_EQ(openTestWindow(kMinutes, tester, organisation),
              (QStringList{"CLoginDlg", "CParamDlg"}));
    ASSERT_NE(form(), nullptr);
    EXPECT_EQ(initialise(), QStringList{"CInitProgressDlg"});
    EXPECT_FALSE(form()->item(FormId::InitButton)->isEnabled());
    EXPECT_TRUE(form()->item(FormId::StartButton)->isEnabled());
    ASSERT_EQ(m_boxes.count(), 0) << m_boxes.texts().join(' ').toStdString();

    const QString charts = m_dir.filePath(QStringLiteral("趋势图.bmp"));
    const QString report = m_dir.filePath(QStringLiteral("报表.xls"));
    m_files.answer({charts, report});
    m_boxes.answer({MessageBox::Ok, m_office ? MessageBox::Ok : MessageBox::Cancel});
    click(FormId::StartButton);
    EXPECT_EQ(field(FormId::StartButton), "暂停");
    EXPECT_NE(field(FormId::StartTime), "00:00:00");

    // The instrument's minute count reaches the duration: both questions, both saves, and
    // the link threads end by themselves.
    ASSERT_TRUE(waitForTestEnd(2, 50000));
    EXPECT_EQ(m_boxes.texts(), (QStringList{"请确认是否保存图片！", "请确认是否保存数据！"}));
    EXPECT_EQ(field(FormId::RemainingMinutes), "完成");
    EXPECT_EQ(field(FormId::StartButton), "开始实验");
    for (int id : {FormId::SaveText, FormId::SaveChart, FormId::SaveExcel, FormId::CloseTest})
        EXPECT_TRUE(form()->item(id)->isEnabled()) << id;

    // A record 5 s after the start, one a minute, and the last one at the end.
    const int rows = form()->historyRowCount(0);
    EXPECT_GE(rows, kMinutes);
    EXPECT_LE(rows, kMinutes + 3);
    QStringList lastCharges;
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
        EXPECT_EQ(form()->channelCellOnGui(slot, ChannelColumn::Status), "完成");
        ASSERT_EQ(form()->historyRowCount(slot), rows) << slot;
        double charge = -1;
        for (int r = 0; r < rows; ++r) {
            EXPECT_EQ(form()->historyCell(slot, r, HistoryColumn::RecordNo),
                      QString::number(r + 1));
            EXPECT_TRUE(form()->historyCell(slot, r, HistoryColumn::Current).endsWith("(mA)"));
            // Charge is the integral of a positive current: it only grows.
            const QString text = form()->historyCell(slot, r, HistoryColumn::Charge);
            EXPECT_TRUE(text.endsWith("(C)")) << text.toStdString();
            EXPECT_GE(ChargeValue(text), charge) << slot << "/" << r;
            charge = ChargeValue(text);
        }
        EXPECT_GT(charge, 0.0);
        lastCharges << form()->historyCell(slot, rows - 1, HistoryColumn::Charge);
        // The last record is what the channel table shows at the end.
        EXPECT_EQ(lastCharges.back(), form()->channelCellOnGui(slot, ChannelColumn::Charge));
    }

    // "保存文本数据" after the end.
    const QString data = m_dir.filePath(QStringLiteral("数据.bln"));
    m_files.answer({data});
    click(FormId::SaveText);
    std::vector<QStringList> history;
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) history.push_back(historyRows(slot));
    const QString date = field(FormId::TestDate);
    EXPECT_EQ(date, TodayAsTheFormShowsIt());
    closeProgram();

    const std::vector<FileDialog::SaveRequest> asked = m_files.requests();
    ASSERT_EQ(asked.size(), m_office ? 3u : 2u);
    EXPECT_EQ(asked.front().filter, "*.BMP");
    EXPECT_EQ(asked.back().filter, "*.bln");

    // The nine chart bitmaps, channels 7 to 9 included.
    for (int channel = 1; channel <= 9; ++channel) {
        QFile bitmap(m_dir.filePath(QStringLiteral("趋势图通道%1.bmp").arg(channel)));
        ASSERT_TRUE(bitmap.open(QIODevice::ReadOnly)) << channel;
        EXPECT_TRUE(bitmap.read(2) == "BM") << channel;
        EXPECT_GT(bitmap.size(), 1000) << channel;
    }

    // The text data file: the header, then one line per record with every channel.
    const QStringList lines = readTextData(data);
    ASSERT_EQ(lines.size(), rows + 1);
    EXPECT_EQ(lines[0], date + "+" + organisation + "+" + tester + "+1+100+oooooo");
    for (int r = 0; r < rows; ++r) {
        QString expected;
        for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) expected += history[slot][r] + ":";
        EXPECT_EQ(lines[r + 1], expected) << r;
    }

    // The wire: the three writes in order, the initialisation check before the start, and
    // whole channel polls in address order.
    const QStringList requests = m_instrument->requests();
    EXPECT_EQ(Writes(requests), (QStringList{"00W070 1111", "01W071 1111", "00W071 0000"}));
    const qsizetype check = requests.indexOf("00R030");
    EXPECT_TRUE(check > requests.indexOf("00W070 1111") && check < requests.indexOf("01W071 1111"));
    EXPECT_GE(ExpectChannelPollsInOrder(requests), rows);

    // The report, read back by an independent reader of the format.
    if (!m_office) GTEST_SKIP() << "built without the office: the report is not written";
    const QJsonObject book = readWorkbook(report);
    const QJsonObject sheet = book[kReportSheetName].toObject();
    EXPECT_EQ(sheet["B2"].toString(), organisation);
    // Plain numbers are numbers in the workbook; texts with a unit stay text.
    ASSERT_TRUE(sheet["B5"].isDouble());
    EXPECT_EQ(sheet["B5"].toDouble(), kMinutes);
    EXPECT_EQ(sheet["D5"].toString(), tester);
    const char* chargeCells[] = {"D7", "D8", "D9", "D12", "D13", "D14"};
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot)
        EXPECT_EQ(sheet[chargeCells[slot]].toString(), lastCharges[slot]) << chargeCells[slot];
    ASSERT_TRUE(sheet["D10"].isDouble());
    EXPECT_EQ(sheet["D10"].toDouble(),
              ChargeMean(lastCharges[0], lastCharges[1], lastCharges[2]).toDouble());
    const QJsonObject info = book[kInfoSheetName].toObject();
    EXPECT_EQ(info["B5"].toString(), organisation);
    EXPECT_EQ(info["B6"].toString(), tester);
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
        const QJsonObject channel = book[ChannelSheetName(slot + 1)].toObject();
        for (int r = 0; r < rows; ++r) {
            const QString row = QString::number(r + 2);
            EXPECT_TRUE(channel["A" + row].isDouble()) << slot << "/" << r;  // record number
            EXPECT_EQ(QString::number(channel["A" + row].toDouble()) + "+" +
                          channel["B" + row].toString() + "+" + channel["C" + row].toString(),
                      history[slot][r])
                << slot << "/" << r;
        }
        EXPECT_FALSE(channel.contains("A" + QString::number(rows + 2)));
    }
}

TEST_F(OperatorRun, TheInstrumentStoppingByItselfEndsTheTestWithoutAStopCommand) {
    // The instrument stops after 2 minutes of a 10-minute test.
    startBench(30, {"--duration", "2"});
    openTestWindow(10, QStringLiteral("李娜"), QStringLiteral("某大学土木工程实验室"));
    ASSERT_NE(form(), nullptr);
    initialise();
    m_boxes.answer({MessageBox::Cancel, MessageBox::Cancel});
    click(FormId::StartButton);
    ASSERT_TRUE(waitForTestEnd(2, 30000));
    EXPECT_EQ(m_boxes.texts(), (QStringList{"请确认是否保存图片2！", "请确认是否保存数据！"}));
    EXPECT_TRUE(m_files.requests().empty());
    EXPECT_EQ(field(FormId::RemainingMinutes), "完成");
    EXPECT_EQ(field(FormId::StartButton), "开始实验");
    EXPECT_EQ(form()->channelCellOnGui(0, ChannelColumn::Status), "完成");
    const int rows = form()->historyRowCount(0);
    EXPECT_GE(rows, 3);

    const QString data = m_dir.filePath(QStringLiteral("数据.bln"));
    m_files.answer({data});
    click(FormId::SaveText);
    const QStringList firstChannel = historyRows(0);
    closeProgram();

    // The run-state request was answered "stopped"; the program sent no stop of its own.
    const QStringList requests = m_instrument->requests();
    EXPECT_EQ(Writes(requests), (QStringList{"00W070 1111", "01W071 1111"}));
    EXPECT_TRUE(requests.contains("02R071"));
    const QStringList lines = readTextData(data);
    ASSERT_EQ(lines.size(), rows + 1);
    EXPECT_TRUE(lines.last().startsWith(firstChannel.last() + ":"));
}

TEST_F(OperatorRun, APulledCableStopsTheTestAndTheRecordsSoFarAreSavedWhole) {
    startBench(30);
    openTestWindow(30, QStringLiteral("张伟"), QStringLiteral("省建筑科学研究院"));
    ASSERT_NE(form(), nullptr);
    initialise();
    click(FormId::StartButton);
    ASSERT_TRUE(PumpUntil([&] { return form()->historyRowCount(0) >= 2; }, 20000));
    m_instrument->pullCable();

    // Seven sends of one request, a second each, then the failure: the message comes
    // before the test is paused.
    ASSERT_TRUE(PumpUntil(
        [&] { return m_boxes.count() >= 1 && field(FormId::StartButton) == "开始实验"; }, 20000))
        << m_boxes.texts().join(' ').toStdString();
    const QString failure = m_boxes.texts().first();
    const QRegularExpressionMatch named =
        QRegularExpression(QStringLiteral("^通信失败(!(1[0-5])|2!|4!)$")).match(failure);
    ASSERT_TRUE(named.hasMatch()) << failure.toStdString();
    EXPECT_EQ(field(FormId::CommStatus), "通信故障");
    EXPECT_EQ(g_bTesting.load(), 0);
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot)
        EXPECT_EQ(form()->channelCellOnGui(slot, ChannelColumn::Status), "停止") << slot;
    for (int id : {FormId::SaveText, FormId::SaveChart, FormId::SaveExcel, FormId::CloseTest})
        EXPECT_TRUE(form()->item(id)->isEnabled()) << id;

    // The test is paused: no more records (one record interval is 2 s here).
    const int rows = form()->historyRowCount(0);
    PumpFor(2500);
    EXPECT_EQ(form()->historyRowCount(0), rows);
    EXPECT_EQ(m_boxes.count(), 1) << m_boxes.texts().join(' ').toStdString();

    const QString data = m_dir.filePath(QStringLiteral("数据.bln"));
    m_files.answer({data});
    click(FormId::SaveText);
    std::vector<QStringList> history;
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) history.push_back(historyRows(slot));
    closeProgram();

    const QStringList lines = readTextData(data);
    ASSERT_EQ(lines.size(), rows + 1);
    for (int r = 0; r < rows; ++r) {
        QString expected;
        for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) expected += history[slot][r] + ":";
        EXPECT_EQ(lines[r + 1], expected) << r;
    }

    // On the wire: the unanswered request sent seven times, then the stop command.
    const QStringList requests = m_instrument->requests();
    const qsizetype stop = requests.lastIndexOf("00W071 0000");
    ASSERT_GE(stop, 7);
    EXPECT_GT(stop, requests.indexOf("01W071 1111"));
    QString unanswered = "00R030";
    if (failure.endsWith("4!")) unanswered = requests[stop - 1];
    if (!named.captured(2).isEmpty()) unanswered = named.captured(2) + "R010";
    for (qsizetype i = stop - 7; i < stop; ++i) EXPECT_EQ(requests[i], unanswered) << i;
    if (failure.endsWith("4!")) {
        EXPECT_TRUE(unanswered.endsWith("R060"));
    }
}
