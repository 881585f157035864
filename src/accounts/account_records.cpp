#include "accounts/account_records.h"

namespace {

AccountLine makeLine(const QByteArray& raw) {
    AccountLine line{raw, raw};
    if (line.value.endsWith('\r')) line.value.chop(1);
    return line;
}

const QByteArray kLineEnd("\r\n");

}  // namespace

QList<AccountRecord> ParseAccountRecords(const QByteArray& content) {
    QList<AccountLine> lines;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype lf = content.indexOf('\n', start);
        if (lf < 0) lf = content.size();
        lines.append(makeLine(content.mid(start, lf - start)));
        start = lf + 1;
    }
    QList<AccountRecord> records;
    for (qsizetype i = 0; i < lines.size(); i += 2) {
        AccountRecord record{lines[i], std::nullopt};
        if (i + 1 < lines.size()) record.password = lines[i + 1];
        records.append(record);
    }
    return records;
}

QByteArray AccountRecordBytes(const QByteArray& name, const QByteArray& password) {
    return name + kLineEnd + password + kLineEnd;
}

QByteArray AccountFileWithout(const QList<AccountRecord>& records, const QByteArray& name) {
    QByteArray out;
    for (const AccountRecord& record : records) {
        if (record.name.value == name) continue;
        out += record.name.value + kLineEnd;
        if (record.password) out += record.password->value + kLineEnd;
    }
    return out;
}

QByteArray DefaultAccountFile() { return AccountRecordBytes("admin", "579"); }

LoginCheck CheckLogin(const QList<AccountRecord>& records, const QByteArray& rawName,
                      const QByteArray& typedPassword) {
    for (const AccountRecord& record : records) {
        if (record.name.raw != rawName) continue;
        if (record.password && record.password->value == typedPassword) return LoginCheck::Accepted;
        return LoginCheck::WrongPassword;
    }
    return LoginCheck::NoSuchName;
}
