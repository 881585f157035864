#include "past_tests.h"

#include <QDateTime>
#include <QtMath>

#include "archive/archive_writer.h"

namespace {

double CurrentAt(const PastTest& t, int slot, int minute) {
    static const double spread[] = {1.0, 1.12, 0.91, 1.05, 0.96, 1.08};
    const double warming = 1.0 + 0.18 * (1.0 - qExp(-minute / 90.0));
    return t.mA * spread[slot] * warming + 0.4 * qSin(minute / 7.0 + slot);
}

}  // namespace

qint64 WritePastTest(archive::ArchiveWriter& writer, const PastTest& t, const QString& uid,
                     int number) {
    archive::TestHeader h;
    h.uid = uid;
    h.testDate = QString::fromUtf8(t.date);
    h.startTime = QString::fromUtf8(t.start);
    h.startedAtMs = QDateTime(QDate::fromString(h.testDate, QStringLiteral("yyyy-M-d")),
                              QTime::fromString(h.startTime, QStringLiteral("HH:mm:ss")))
                        .toMSecsSinceEpoch();
    h.user = QStringLiteral("admin");
    h.portName = QStringLiteral("COM1");  // the lab's bench
    h.portDevice = QStringLiteral("/dev/ttyUSB0");
    h.voltage = QStringLiteral("60.0");
    h.testMinutes = t.minutes;
    h.recordInterval = 5;
    h.diameter = t.diameter;
    h.tester = QString::fromUtf8(t.tester);
    h.organisation = QString::fromUtf8(t.organisation);
    for (int i = 0; i < 6; ++i) h.specimenNo[i] = QStringLiteral("C%1-%2").arg(number).arg(i + 1);
    writer.beginTest(h);
    double charge[6] = {};
    int record = 0;
    for (int minute = 0; minute <= t.ranMinutes; ++minute) {
        archive::PollRow poll;
        poll.atMs = h.startedAtMs + qint64(minute) * 60000 + 5000;
        poll.minutes = minute;
        poll.voltage = QStringLiteral("60.1");
        poll.temperature = QString::number(22.0 + minute / 60.0, 'f', 1);
        for (int slot = 0; slot < 6; ++slot) {
            const double mA = CurrentAt(t, slot, minute);
            if (minute > 0) charge[slot] += mA / 1000.0 * 60.0;
            poll.current[slot] = QString::number(mA, 'f', 1) + QStringLiteral("(mA)");
            poll.charge[slot] = QString::number(charge[slot], 'f', 1) + QStringLiteral("(C)");
        }
        writer.addPoll(uid, poll);
        if (minute % 5 == 0) {
            archive::RecordRow r;
            r.number = ++record;
            r.minutes = minute;
            r.temperature = poll.temperature;
            r.atMs = poll.atMs;
            r.current = poll.current;
            r.charge = poll.charge;
            writer.addRecord(uid, r);
        }
    }
    return h.startedAtMs + qint64(t.ranMinutes) * 60000;
}
