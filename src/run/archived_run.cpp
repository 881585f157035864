#include "run/archived_run.h"

#include <QDateTime>
#include <QObject>
#include <QUuid>
#include <memory>
#include <mutex>
#include <utility>

#include "archive/archive_writer.h"
#include "archive/lock_key_column.h"
#include "archive/test_lock.h"
#include "archive/test_lock_name.h"
#include "link/serial_channel.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/port_names.h"
#include "run/archive_session.h"
#include "run/run_audit.h"
#include "run/unarchived_records.h"
#include "state/test_state.h"

namespace ArchivedRun {
namespace {

std::mutex g_mutex;
QString g_uid;                              // the test of the window, empty when none
std::unique_ptr<archive::TestLock> g_lock;  // held while the window runs it

qint64 now() { return QDateTime::currentMSecsSinceEpoch(); }

QString currentUid() {
    std::lock_guard lock(g_mutex);
    return g_uid;
}

// The window's test and the archive's writer; no writer when either is missing.
std::pair<QString, std::shared_ptr<archive::ArchiveWriter>> currentTest() {
    QString uid = currentUid();
    if (uid.isEmpty()) return {};
    return {std::move(uid), ArchiveSession::writer()};
}

std::optional<int> instrumentMinutes() {
    const int32_t minutes = g_nInstrumentMinutes.load();
    return minutes >= 0 ? std::optional<int>(minutes) : std::nullopt;
}

archive::TestHeader headerOf(const Testclass& form, const QString& uid) {
    archive::TestHeader h;
    h.uid = uid;
    h.testDate = form.itemTextOnGui(FormId::TestDate);
    h.startTime = form.itemTextOnGui(FormId::StartTime);
    h.startedAtMs = now();
    h.user = g_strCurrentUser;
    h.portIndex = g_nComPort;
    if (g_nComPort < g_strComNames.size()) {
        h.portName = g_strComNames[g_nComPort];
        h.portDevice = PortNames::devicePath(h.portName);
    }
    h.voltage = g_strVoltage;
    h.testMinutes = g_nTestMinutes;
    h.recordInterval = g_nRecordInterval;
    h.diameter = g_nDiameter;
    h.tester = g_strTester;
    h.organisation = g_strOrganisation;
    for (int slot = 0; slot < archive::kSpecimenSlots; ++slot)
        h.specimenNo[slot] = g_strSpecimenNo[slot];
    for (int slot = 0; slot < archive::kChannels; ++slot) h.channelOff[slot] = g_bChannelOff[slot];
    h.programVersion = QStringLiteral(KIVO_VERSION);
    return h;
}

// The window goes: the test is closed (a finished test keeps its ending) and its lock let go
// once that is in the archive (or left beside it), so that no copy takes it for a crashed test.
void watchWindow(Testclass& form, const QString& uid) {
    QObject::connect(&form, &QObject::destroyed, [uid] {
        std::unique_ptr<archive::TestLock> lock;
        {
            std::lock_guard guard(g_mutex);
            if (g_uid != uid) return;
            g_uid.clear();
            lock.swap(g_lock);
        }
        if (auto writer = ArchiveSession::writer()) {
            writer->changeState(uid, archive::TestState::Closed, now());
            writer->release(std::move(lock));
        }
        RunAudit::record(QStringLiteral("closed"), uid);
        UnarchivedRecords::forget(uid);
    });
}

}  // namespace

void started(Testclass& form) {
    const std::shared_ptr<archive::ArchiveWriter> writer = ArchiveSession::writer();
    if (!writer) return;
    QString uid = currentUid();
    if (!uid.isEmpty()) {
        writer->changeState(uid, archive::TestState::Running, now());
        RunAudit::record(QStringLiteral("resumed"), uid);
        return;
    }
    uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    // The archive's part of the lock name is made once and kept with the test, so that every
    // program checks the test under the name it runs by, however the path resolves later.
    archive::TestHeader header = headerOf(form, uid);
    header.lockKey = archive::ArchiveLockKey(ArchiveSession::path());
    // A lock without its file still keeps the copies of this computer off the test.
    QString unshared;
    std::unique_ptr<archive::TestLock> testLock = archive::TestLock::tryAcquire(
        ArchiveSession::path(), uid, &unshared, nullptr, header.lockKey);
    // Said like an archive failure, unless the archive's own failure has been said already;
    // a test that nothing holds is said whatever else was said.
    if (!unshared.isEmpty() && (!testLock || !writer->failed()))
        ArchiveSession::reportFailure(unshared);
    // Without its lock file the test is held, on every computer, by this process's mark. The
    // mark is written after the key in the test's lock_key column, so the archive keeps its
    // version and a bench still running an older program goes on archiving. That program reads
    // the column whole as the key and derives another name from it, so this program holds that
    // name too while it holds the test's own: such a program is kept off the test as before.
    // When no name could be bound, it checks the test by its lock file alone, as it always did.
    if (!unshared.isEmpty()) {
        header.lockHolder = ArchiveSession::processMark();
        if (testLock)
            testLock->holdNameAlso(ArchiveSession::path(),
                                   archive::LockKeyColumn(header.lockKey, header.lockHolder));
    }
    {
        std::lock_guard lock(g_mutex);
        g_uid = uid;
        g_lock = std::move(testLock);
    }
    writer->beginTest(header);
    writer->changeState(uid, archive::TestState::Running, now());
    RunAudit::record(QStringLiteral("started"), uid);
    watchWindow(form, uid);
}

void changeState(archive::TestState state) {
    const auto [uid, writer] = currentTest();
    if (!writer) return;
    writer->changeState(uid, state, now());
    // A pause is told apart by whoever asks for it (the operator, the temperature watch).
    switch (state) {
        case archive::TestState::CommFailure:
            RunAudit::record(QStringLiteral("comm_failure"), uid);
            break;
        case archive::TestState::FinishedByMinutes:
            RunAudit::record(QStringLiteral("finished"), uid);
            break;
        case archive::TestState::FinishedByInstrument:
            RunAudit::record(QStringLiteral("instrument_stopped"), uid);
            break;
        default:
            break;
    }
}

void recorded(const Testclass& form, int row) {
    const auto [uid, writer] = currentTest();
    if (!writer) return;
    archive::RecordRow record;
    record.number = row + 1;
    record.minutes = instrumentMinutes();
    record.temperature = form.itemTextOnGui(FormId::Temperature);
    record.atMs = now();
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        if (g_bChannelOff[slot] != 0 || row >= form.historyRowCount(slot)) continue;
        record.current[slot] = form.historyCell(slot, row, HistoryColumn::Current);
        record.charge[slot] = form.historyCell(slot, row, HistoryColumn::Charge);
    }
    UnarchivedRecords::handed(uid, record.number);
    writer->addRecord(uid, record);
}

void polled(const Testclass& form) {
    const auto [uid, writer] = currentTest();
    if (!writer) return;
    archive::PollRow poll;
    poll.atMs = now();
    poll.minutes = instrumentMinutes();
    poll.voltage = form.itemTextOnGui(FormId::Voltage);
    poll.temperature = form.itemTextOnGui(FormId::Temperature);
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        if (g_bChannelOff[slot] != 0) continue;
        poll.current[slot] = form.channelCellOnGui(slot, ChannelColumn::Current);
        poll.charge[slot] = form.channelCellOnGui(slot, ChannelColumn::Charge);
    }
    writer->addPoll(uid, poll);
}

void adopt(Testclass& form, const archive::ArchivedTest& test,
           std::unique_ptr<archive::TestLock> lock) {
    {
        std::lock_guard guard(g_mutex);
        g_uid = test.header.uid;
        g_lock = std::move(lock);
    }
    if (auto writer = ArchiveSession::writer()) writer->resumeTest(test);
    watchWindow(form, test.header.uid);
    RunAudit::record(QStringLiteral("recovered"), test.header.uid);
}

QString uid() { return currentUid(); }

}  // namespace ArchivedRun
