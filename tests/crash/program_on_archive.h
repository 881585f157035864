#pragma once

#include <sys/prctl.h>

#include <QElapsedTimer>
#include <memory>
#include <optional>
#include <thread>

#include "archive/archive_fixture.h"
#include "archive/archive_reader.h"
#include "e2e/operator_fixture.h"
#include "run/archive_session.h"
#include "run/archived_run.h"

// The program as an operator runs it, against the virtual instrument, on an archive that
// other copies of the program share: copies in child processes (this test program started
// again with one child test selected) and the copy in the test's own process. A child is
// killed, when the test means it to be, with SIGKILL: nothing of it gets to clean up.
class ProgramOnArchive : public OperatorRun {
  protected:
    static constexpr int kSpeed = 30;  // of the instrument and of every copy's timers
    static constexpr const char* kChildTest = "ProgramOnArchive.ChildOperator";

    void SetUp() override {
        OperatorRun::SetUp();
        m_formerArchive = qgetenv("KIVO_ARCHIVE");
        qputenv("KIVO_ARCHIVE", archivePath().toLocal8Bit());
    }
    void TearDown() override {
        OperatorRun::TearDown();
        qputenv("KIVO_ARCHIVE", m_formerArchive);
    }

    QString archivePath() const { return m_dir.filePath(QStringLiteral("kivo.sqlite")); }
    QString link() const { return m_dir.filePath(QStringLiteral("com1")); }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // The instrument on `link()`, logging its requests to `log`, at the bench's speed.
    void startInstrument(const QString& log = QStringLiteral("requests.log")) {
        m_instrument = std::make_unique<VirtualInstrument>(
            link(), path(log), QStringList{QStringLiteral("--speed"), QString::number(kSpeed)});
        ASSERT_TRUE(m_instrument->running());
        ASSERT_TRUE(PumpUntil([&] { return m_instrument->linked(); }));
    }

    // Another copy of the program, in a child process, running a test of `minutes` on the
    // instrument at `instrument`; it reports "started" once the test runs. With `toEnd` it
    // runs the test to its end, then reports "rows N" and closes; otherwise it runs until it
    // is killed.
    std::unique_ptr<ArchiveTesting::ChildProcess> startChild(const QString& instrument, int minutes,
                                                             bool toEnd) {
        // Its scratch folders go into ours, so that none is left behind when it is killed.
        const QString scratch = path(QStringLiteral("child-%1").arg(++m_children));
        QDir().mkpath(scratch);
        const QByteArray formerTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", scratch.toLocal8Bit());
        auto child = std::make_unique<ArchiveTesting::ChildProcess>(
            kChildTest, toEnd ? QStringLiteral("to-end") : QStringLiteral("until-killed"),
            QList<std::pair<QString, QString>>{{"PATH", archivePath()},
                                               {"LINK", instrument},
                                               {"MINUTES", QString::number(minutes)}});
        if (formerTemp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", formerTemp);
        return child;
    }

    // The child's side of startChild().
    void runAsChild() {
        // A parent that dies takes its copies of the program with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        qputenv("KIVO_ARCHIVE", ArchiveTesting::ChildParam("PATH").toLocal8Bit());
        startProgram(ArchiveTesting::ChildParam("LINK"), kSpeed);
        ASSERT_EQ(openTestWindow(ArchiveTesting::ChildParam("MINUTES").toInt(),
                                 QStringLiteral("孙丽"), QStringLiteral("第二检测站")),
                  (QStringList{"CLoginDlg", "CParamDlg"}));
        initialise();
        m_boxes.answer({MessageBox::Cancel, MessageBox::Cancel});
        click(FormId::StartButton);
        ASSERT_EQ(field(FormId::StartButton), "暂停");
        ArchiveTesting::Report("started");
        if (ArchiveTesting::ChildRole() == "until-killed") {
            // Each record as the form shows it: "shown N".
            int shown = 0;
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 600000) {
                PumpFor(20);
                if (form() == nullptr || form()->historyRowCount(0) == shown) continue;
                shown = form()->historyRowCount(0);
                ArchiveTesting::Report("shown " + QByteArray::number(shown));
            }
            FAIL() << "not killed";
        }
        ASSERT_TRUE(waitForTestEnd(2, 120000));
        ArchiveTesting::Report("rows " + QByteArray::number(form()->historyRowCount(0)));
        closeProgram();
    }

    // Waits (GUI events going on) until `done` holds, looking every `stepMs`.
    static bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int stepMs = 100) {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > timeoutMs) return false;
            PumpFor(stepMs);
        }
        return true;
    }

    // Every test of the archive as it is on disk now, oldest first.
    std::vector<archive::ArchivedTest> archivedTests() const {
        if (auto writer = ArchiveSession::writer()) {
            EXPECT_TRUE(writer->flush(30000));
        }
        std::vector<archive::ArchivedTest> tests;
        if (!QFile::exists(archivePath())) return tests;
        QString message;
        const auto reader = archive::ArchiveReader::open(archivePath(), &message);
        EXPECT_TRUE(reader) << message.toStdString();
        if (!reader) return tests;
        for (const archive::TestSummary& summary : reader->listTests())
            if (auto test = reader->loadTest(summary.id)) tests.insert(tests.begin(), *test);
        return tests;
    }
    // The one test of the archive.
    archive::ArchivedTest onlyTest() const {
        std::vector<archive::ArchivedTest> tests = archivedTests();
        EXPECT_EQ(tests.size(), 1u);
        return tests.empty() ? archive::ArchivedTest{} : tests.front();
    }
    // Waits until the archive's only test holds `records` committed records.
    bool waitForRecords(int records, int timeoutMs = 60000) const {
        return WaitUntil(
            [&] {
                std::vector<archive::ArchivedTest> tests = archivedTests();
                return tests.size() == 1 && int(tests[0].records.size()) >= records;
            },
            timeoutMs, 200);
    }

    // "新建实验" with the login only: the recovery question comes next and is answered by the
    // scripted boxes; the dialogs seen.
    QStringList logIn() {
        ModalScript script;
        script.then<CLoginDlg>([](CLoginDlg* d) {
            static_cast<QLineEdit*>(d->item(CLoginDlg::IdPassword))->setText(kPassword);
            static_cast<QPushButton*>(d->item(1))->click();
        });
        frame()->command(CMainFrame::ID_NEW_TEST)->trigger();
        return script.seen();
    }

    // "关闭" with the password; true once the window is gone.
    bool closeTestWindow() {
        ModalScript script;
        script.then<CExitDlg>([](CExitDlg* d) {
            static_cast<QLineEdit*>(d->item(CExitDlg::IdPassword))->setText(kPassword);
            static_cast<QPushButton*>(d->item(1))->click();
        });
        click(FormId::CloseTest);
        return PumpUntil([&] { return form() == nullptr; });
    }

    // A record as the text data file and the history lists hold one channel of it.
    static QString RecordText(const archive::RecordRow& record, int slot) {
        return QString::number(record.number) + "+" + record.current[slot] + "+" +
               record.charge[slot];
    }

    QByteArray m_formerArchive;
    int m_children = 0;
};

// The states a test went through, in order.
inline std::vector<archive::TestState> StatesOf(const archive::ArchivedTest& test) {
    std::vector<archive::TestState> states;
    for (const archive::StateChange& change : test.states) states.push_back(change.state);
    return states;
}
