#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

// The content of the account file "data.bk": records of two lines each, a user name and
// its password, GBK text, every line ended by CR LF, in the order the users were added.
//
// A line is read up to its LF (or the end of the file). Its raw form is that text without
// the LF; its value drops one more character, the CR, but only when that character is a CR,
// so a file that lost its CRs still reads whole. For the files this program writes the
// value is the raw line less its last character.

struct AccountLine {
    QByteArray raw;
    QByteArray value;
};

struct AccountRecord {
    AccountLine name;
    // A name on the file's last line has no password line; such a record never logs in.
    std::optional<AccountLine> password;
};

// Every record of `content`, in file order.
QList<AccountRecord> ParseAccountRecords(const QByteArray& content);

// The bytes of one record: name, CR LF, password, CR LF.
QByteArray AccountRecordBytes(const QByteArray& name, const QByteArray& password);

// The file without the records whose name value equals `name`; every kept line is written
// back as its value plus CR LF.
QByteArray AccountFileWithout(const QList<AccountRecord>& records, const QByteArray& name);

// The bytes of the file the program creates when none exists: "admin" / "579".
QByteArray DefaultAccountFile();

enum class LoginCheck { Accepted, WrongPassword, NoSuchName };

// The login rule: the first record whose raw name line equals `rawName` decides; its
// password value must equal `typedPassword` byte for byte.
LoginCheck CheckLogin(const QList<AccountRecord>& records, const QByteArray& rawName,
                      const QByteArray& typedPassword);
