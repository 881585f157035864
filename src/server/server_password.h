#pragma once

#include <QString>

// The lab server's password, kept apart from the lab settings (which every operator account of
// the lab's group may read): in a file beside them that belongs to the account running the
// program and that only it can read ("kivo.ini.password.<uid>", mode 0600). The file holds the
// password of one server and user only, so a changed host, port, database or user never gets
// it, nor a verified connection turned into an unverified one.
namespace server {

struct PasswordKey {
    QString host;
    int port = 5432;
    QString database;
    QString user;
    // The check the password was kept under: for a connection that verifies the server's
    // certificate, that mode and its CA file; empty otherwise. A password kept under a check
    // goes only where the same check is made, so settings edited to a weaker mode or another
    // CA never hand it to a server that was not verified. One kept without (or by an earlier
    // version) goes under any mode.
    QString guard;
    bool operator==(const PasswordKey&) const = default;
    // Whether the password kept under this key may go to `wanted`.
    bool admits(const PasswordKey& wanted) const;
};

// This account's password file beside the lab settings.
QString PasswordFilePath();

// The password kept for exactly this server and user; empty when none is (or when the file is
// not this account's alone).
QString StoredPassword(const PasswordKey& key);

// Keeps `password` for `key`, replacing whatever was kept; an empty password removes the file.
// False with a Chinese explanation when it cannot be written.
bool StorePassword(const PasswordKey& key, const QString& password, QString* error);

}  // namespace server
