#include "server/test_account.h"

#include <QCryptographicHash>
#include <string>

#include "archive/archive_columns.h"
#include "archive/test_states.h"
#include "server/checked_rows_schema.h"

namespace server {
namespace {

// The fields of a row joined as the server joins them, in UTF-8: the unit separator between
// fields and \x01 for NULL. Written into `text`, which is reused from row to row (a settled
// archive's first check hashes every row it holds).
void RowText(const QStringList& fields, QByteArray& text) {
    text.clear();
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0) text += char(31);
        const QString& field = fields[i];
        if (field.isNull()) {
            text += char(1);
            continue;
        }
        bool ascii = true;
        for (const QChar c : field) ascii = ascii && c.unicode() < 0x80;
        if (!ascii) {
            text += field.toUtf8();
            continue;
        }
        for (const QChar c : field) text += char(c.unicode());
    }
}

QString Number(qint64 n) { return QString::number(n); }
QString Number(std::optional<int> n) { return n ? QString::number(*n) : QString(); }
QString NotNull(const QString& text) { return text.isNull() ? QStringLiteral("") : text; }

void AddChannels(QStringList& fields, const std::array<QString, archive::kChannels>& current,
                 const std::array<QString, archive::kChannels>& charge) {
    for (const QString& c : current) fields << c;
    for (const QString& c : charge) fields << c;
}

QString Decimal(unsigned __int128 value) {
    if (value == 0) return QStringLiteral("0");
    std::string digits;
    while (value > 0) {
        digits.insert(digits.begin(), char('0' + int(value % 10)));
        value /= 10;
    }
    return QString::fromStdString(digits);
}

}  // namespace

void RowSum::add(const QStringList& fields) {
    thread_local QByteArray text;
    thread_local QCryptographicHash hash(QCryptographicHash::Md5);
    RowText(fields, text);
    hash.reset();
    hash.addData(text);
    const QByteArrayView md5 = hash.resultView();
    // The first 60 bits, as ('x' || left(md5, 15))::bit(60)::bigint reads them.
    quint64 bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | quint8(md5[i]);
    sum += bits >> 4;
    ++count;
}

QString RowSum::sumText() const { return Decimal(sum); }

QStringList HeaderFields(const archive::TestHeader& h) {
    QStringList f;
    f << NotNull(h.testDate) << NotNull(h.startTime) << Number(h.startedAtMs) << NotNull(h.user)
      << Number(qint64{h.portIndex}) << NotNull(h.portName) << NotNull(h.portDevice)
      << NotNull(h.voltage) << Number(qint64{h.testMinutes}) << Number(qint64{h.recordInterval})
      << Number(qint64{h.diameter}) << NotNull(h.tester) << NotNull(h.organisation);
    for (const QString& s : h.specimenNo) f << NotNull(s);
    for (uint8_t off : h.channelOff) f << Number(qint64{off});
    f << NotNull(h.programVersion) << NotNull(h.uid);
    return f;
}

QStringList StateFields(int ordinal, const archive::StateChange& s) {
    return {Number(qint64{ordinal}), QString::fromLatin1(archive::StateName(s.state)),
            Number(s.atMs)};
}

QStringList RecordFields(const archive::RecordRow& r) {
    QStringList f;
    f << Number(qint64{r.number}) << Number(r.minutes) << r.temperature << Number(r.atMs);
    AddChannels(f, r.current, r.charge);
    return f;
}

QStringList PollFields(int seq, const archive::PollRow& p) {
    QStringList f;
    f << Number(qint64{seq}) << Number(p.atMs) << Number(p.minutes) << p.voltage << p.temperature;
    AddChannels(f, p.current, p.charge);
    return f;
}

LocalAccounts::LocalAccounts(archive::Connection& db)
    : m_header(db,
               (std::string("SELECT ") + archive::kTestHeaderColumns + " FROM test WHERE id = ?1")
                   .c_str()),
      m_states(db, "SELECT state, at_ms FROM state_change WHERE test_id = ?1 ORDER BY rowid"),
      m_records(db, (std::string("SELECT ") + archive::kRecordRowColumns +
                     " FROM record WHERE test_id = ?1 ORDER BY number")
                        .c_str()),
      m_polls(db, (std::string("SELECT seq, ") + archive::kPollRowColumns +
                   " FROM poll WHERE test_id = ?1 AND seq > ?2 ORDER BY seq")
                      .c_str()) {}

TestAccount LocalAccounts::of(qint64 testId, PollTally& tally) {
    TestAccount account;
    // Each statement is made ready for the next test however this one ends.
    struct Done {
        archive::Statement& s;
        ~Done() { s.reset(); }
    };
    {
        Done done{m_header};
        m_header.bind(1, testId);
        if (!m_header.step()) return account;
        RowSum header;
        header.add(HeaderFields(archive::TestHeaderAt(m_header)));
        account.header = header.sumText();
    }
    {
        Done done{m_states};
        m_states.bind(1, testId);
        RowSum states;
        int ordinal = 0;
        while (m_states.step())
            states.add(StateFields(
                ++ordinal,
                {archive::StateFromName(m_states.text(0)).value_or(archive::TestState::Interrupted),
                 m_states.integer(1)}));
        account.states = states.count;
        account.statesSum = states.sumText();
    }
    {
        Done done{m_records};
        m_records.bind(1, testId);
        RowSum records;
        while (m_records.step()) records.add(RecordFields(archive::RecordAt(m_records)));
        account.records = records.count;
        account.recordsSum = records.sumText();
    }
    {
        Done done{m_polls};
        m_polls.bind(1, testId).bind(2, qint64{tally.lastSeq});
        while (m_polls.step()) {
            tally.lastSeq = int(m_polls.integer(0));
            tally.rows.add(PollFields(tally.lastSeq, archive::PollAt(m_polls, 1)));
        }
        account.polls = tally.rows.count;
        account.pollsSum = tally.rows.sumText();
    }
    return account;
}

TestAccount LocalAccount(archive::Connection& db, qint64 testId, PollTally& tally) {
    return LocalAccounts(db).of(testId, tally);
}

std::map<QString, TestAccount> ServerAccounts(PgConnection& db, const QStringList& uids) {
    // The uids as one text[] parameter: {"a","b"} with quotes and backslashes escaped.
    QString array = QStringLiteral("{");
    for (qsizetype i = 0; i < uids.size(); ++i) {
        QString uid = uids[i];
        uid.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        uid.replace(QLatin1Char('"'), QLatin1String("\\\""));
        array += (i > 0 ? QStringLiteral(",\"") : QStringLiteral("\"")) + uid + QLatin1Char('"');
    }
    array += QLatin1Char('}');
    const PgResult r = db.exec(
        "SELECT uid, header::text, states, states_sum::text, records, records_sum::text, polls, "
        "polls_sum::text FROM kivo_test_accounts($1::text[])",
        PgParams().add(array));
    std::map<QString, TestAccount> accounts;
    for (int row = 0; row < r.rows(); ++row) {
        TestAccount a;
        a.header = r.isNull(row, 1) ? QString() : r.text(row, 1);
        a.states = r.integer(row, 2);
        a.statesSum = r.text(row, 3);
        a.records = r.integer(row, 4);
        a.recordsSum = r.text(row, 5);
        a.polls = r.integer(row, 6);
        a.pollsSum = r.text(row, 7);
        accounts[r.text(row, 0)] = a;
    }
    return accounts;
}

void CountServerPolls(PgConnection& db, const QString& uid, TestAccount& account) {
    const PgResult r = db.exec((std::string("SELECT count(*), coalesce(sum(kivo_row_hash(") +
                                PollTextSql("p") + ")), 0)::text FROM polls p WHERE p.test_uid = $1")
                                   .c_str(),
                               PgParams().add(uid));
    account.polls = r.integer(0, 0);
    account.pollsSum = r.text(0, 1);
}

bool ServerHoldsPollsByTime(PgConnection& db, archive::Connection& local, qint64 testId,
                            const QString& uid) {
    archive::Statement p(local, (std::string("SELECT seq, ") + archive::kPollRowColumns +
                                 " FROM poll WHERE test_id = ?1 ORDER BY seq")
                                    .c_str());
    p.bind(1, testId);
    RowSum mine;
    QString times = QStringLiteral("{");
    while (p.step()) {
        const archive::PollRow row = archive::PollAt(p, 1);
        mine.add(PollFields(int(p.integer(0)), row).mid(1));
        if (mine.count > 1) times += QLatin1Char(',');
        times += QString::number(row.atMs);
    }
    times += QLatin1Char('}');
    const PgResult r = db.exec(
        (std::string("SELECT count(*), coalesce(sum(kivo_row_hash(") + PollTimeTextSql("p") +
         ")), 0)::text FROM polls p WHERE p.test_uid = $1 AND p.at_ms = ANY ($2::bigint[])")
            .c_str(),
        PgParams().add(uid).add(times));
    return r.integer(0, 0) == mine.count && r.text(0, 1) == mine.sumText();
}

QString AccountDifference(const TestAccount& local, const TestAccount& s) {
    if (local == s) return {};
    if (s.header.isEmpty()) return QStringLiteral("服务器上没有这项实验");
    QStringList parts;
    auto part = [&](const QString& what, qint64 mine, qint64 theirs, bool sameSum) {
        if (theirs < mine)
            parts << QStringLiteral("缺少%1 %2 条").arg(what).arg(mine - theirs);
        else if (!sameSum || theirs != mine)
            parts << QStringLiteral("%1与本机不一致").arg(what);
    };
    if (s.header != local.header) parts << QStringLiteral("实验参数与本机不一致");
    part(QStringLiteral("状态记录"), local.states, s.states, s.statesSum == local.statesSum);
    part(QStringLiteral("记录"), local.records, s.records, s.recordsSum == local.recordsSum);
    part(QStringLiteral("轮询数据"), local.polls, s.polls, s.pollsSum == local.pollsSum);
    return parts.join(QStringLiteral("、"));
}

}  // namespace server
