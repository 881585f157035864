#pragma once

#include <QString>

// The lab server's password, kept apart from the lab settings (which every operator account of
// the lab's group may read): in a file beside them that belongs to the account running the
// program and that only it can read ("kivo.ini.password.<uid>", mode 0600). The file holds the
// password of one server and user only, so a changed host, port, database or user never gets
// it.
namespace server {

struct PasswordKey {
    QString host;
    int port = 5432;
    QString database;
    QString user;
    bool operator==(const PasswordKey&) const = default;
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
