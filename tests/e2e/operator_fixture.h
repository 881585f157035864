#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <memory>

#include "accounts/exit_dialog.h"
#include "accounts/login_dialog.h"
#include "app/kivo_app.h"
#include "app/main_frame.h"
#include "link/link_threads.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/gbk_codec.h"
#include "platform/program_folder.h"
#include "platform/time_scale.h"
#include "shell/modal_script.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"
#include "run/init_progress_dlg.h"
#include "run/param_dialog.h"
#include "state/test_state.h"
#include "virtual_instrument.h"

// An operator at the bench: the whole program in this process (main window, login,
// parameters, test window), the virtual instrument as COM1, and the program's clock sped
// up as much as the instrument's. Message boxes and save dialogs are answered by script,
// every other dialog by hand through ModalScript.
class OperatorRun : public ::testing::Test {
  protected:
    static constexpr const char* kPassword = "579";

    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        // The account file and the report template live in the program's folder.
        ProgramFolder::setForTests(m_dir.path());
#ifdef KIVO_OFFICE_TEMPLATE
        m_office = QFile::copy(QStringLiteral(KIVO_BINARY_DIR "/src/模板.xls"),
                               m_dir.filePath(QStringLiteral("模板.xls")));
#endif
        ResetTestStateForTests();
    }

    void TearDown() override {
        m_app.reset();
        PumpOnce();
        TimeScale::setFactor(1);
        qunsetenv("KIVO_COM1");
        ProgramFolder::setForTests(QString());
    }

    // Starts the instrument at `speed` (with `options`), points COM1 at it, runs the
    // program's timers as fast and starts the program.
    void startBench(int speed, QStringList options = {}) {
        const QString link = m_dir.filePath(QStringLiteral("com1"));
        options << QStringLiteral("--speed") << QString::number(speed);
        m_instrument = std::make_unique<VirtualInstrument>(
            link, m_dir.filePath(QStringLiteral("requests.log")), options);
        ASSERT_TRUE(m_instrument->running());
        ASSERT_TRUE(PumpUntil([&] { return m_instrument->linked(); }));
        startProgram(link, speed);
    }

    // Starts the program with COM1 on the instrument at `link` and its timers `speed` times
    // as fast as the wall clock.
    void startProgram(const QString& link, int speed) {
        qputenv("KIVO_COM1", link.toLocal8Bit());
        TimeScale::setFactor(speed);
        m_app = std::make_unique<CKivoApp>();
        ASSERT_TRUE(m_app->InitInstance());
    }

    CMainFrame* frame() const { return m_app ? m_app->mainFrame() : nullptr; }
    Testclass* form() const { return frame() ? frame()->testForm() : nullptr; }

    // "新建实验" from the menu: the login as admin, then the parameters of the test.
    QStringList openTestWindow(int minutes, const QString& tester, const QString& organisation) {
        ModalScript script;
        script
            .then<CLoginDlg>([](CLoginDlg* d) {
                static_cast<QLineEdit*>(d->item(CLoginDlg::IdPassword))->setText(kPassword);
                static_cast<QPushButton*>(d->item(1))->click();
            })
            .then<CParamDlg>([=](CParamDlg* d) {
                auto field = [d](int id) { return static_cast<QLineEdit*>(d->item(id)); };
                field(CParamDlg::IdTestMinutes)->setText(QString::number(minutes));
                field(CParamDlg::IdRecordInterval)->setText(QStringLiteral("1"));
                field(CParamDlg::IdTester)->setText(tester);
                field(CParamDlg::IdOrganisation)->setText(organisation);
                static_cast<QPushButton*>(d->item(1))->click();
            });
        frame()->command(CMainFrame::ID_NEW_TEST)->trigger();
        return script.seen();
    }

    void click(int id) const { static_cast<QPushButton*>(form()->item(id))->click(); }
    QString field(int id) const { return form()->itemTextOnGui(id); }

    // "设备初试化": the progress box runs out by itself, then the cycle checks the instrument.
    QStringList initialise() {
        ModalScript script;
        script.then<CInitProgressDlg>([](CInitProgressDlg*) {});
        click(FormId::InitButton);
        EXPECT_TRUE(PumpUntil([this] { return field(FormId::CommStatus) == "通信正常"; }))
            << field(FormId::CommStatus).toStdString();
        return script.seen();
    }

    // Waits until the test has ended: `boxes` messages shown and every link thread gone. On a
    // time-out it says which messages were shown.
    ::testing::AssertionResult waitForTestEnd(int boxes, int timeoutMs) {
        const bool ended = PumpUntil(
            [&] {
                LinkThreads::joinFinished();
                return m_boxes.count() >= boxes && LinkThreads::count() == 0;
            },
            timeoutMs);
        if (ended) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << m_boxes.texts().join(' ').toStdString();
    }

    // Closes the main window as the operator does (the exit password asked while a test window
    // is open), and waits for every link thread to end.
    void closeProgram(bool passwordAsked = true) {
        ModalScript script;
        script.then<CExitDlg>([](CExitDlg* d) {
            static_cast<QLineEdit*>(d->item(CExitDlg::IdPassword))->setText(kPassword);
            static_cast<QPushButton*>(d->item(1))->click();
        });
        QPointer<CMainFrame> main = frame();
        EXPECT_TRUE(main->close());
        EXPECT_TRUE(PumpUntil([&] { return main.isNull(); }));
        EXPECT_EQ(script.seen(), passwordAsked ? QStringList{"CExitDlg"} : QStringList{});
        LinkThreads::joinFinished();
        EXPECT_EQ(LinkThreads::count(), 0);
        EXPECT_EQ(g_bLinkActive.load(), 0);
    }

    // The history of channel slot `slot` as the .bln writes it: "no+current+charge".
    QStringList historyRows(int slot) const {
        QStringList rows;
        for (int r = 0; r < form()->historyRowCount(slot); ++r) {
            rows << form()->historyCell(slot, r, HistoryColumn::RecordNo) + "+" +
                        form()->historyCell(slot, r, HistoryColumn::Current) + "+" +
                        form()->historyCell(slot, r, HistoryColumn::Charge);
        }
        return rows;
    }

    // The lines of a text data file, decoded from GBK, without the last line end.
    static QStringList readTextData(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return {};
        QString text = gbk::decode(file.readAll());
        EXPECT_TRUE(text.endsWith("\r\n"));
        text.chop(2);
        return text.split("\r\n");
    }

    // Every non-empty cell of every sheet of an .xls, read by xlrd: {sheet: {"B5": value}}.
    static QJsonObject readWorkbook(const QString& path) {
        static const char* kRead = R"(
import json, sys, xlrd
book = xlrd.open_workbook(sys.argv[1])
out = {}
for s in book.sheets():
    out[s.name] = {xlrd.cellname(r, c): s.cell_value(r, c)
                   for r in range(s.nrows) for c in range(s.ncols) if s.cell_value(r, c) != ""}
print(json.dumps(out))
)";
        QProcess python;
        python.start("/usr/bin/python3", {"-c", kRead, path});
        if (!python.waitForFinished(30000) || python.exitCode() != 0) {
            ADD_FAILURE() << "xlrd could not read " << path.toStdString() << ": "
                          << python.readAllStandardError().toStdString();
            return {};
        }
        return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    }

    QTemporaryDir m_dir;
    bool m_office = false;  // the template is there: the report can be written
    ScriptedMessageBoxes m_boxes;
    ScriptedFileDialogs m_files;
    std::unique_ptr<VirtualInstrument> m_instrument;
    std::unique_ptr<CKivoApp> m_app;
};
