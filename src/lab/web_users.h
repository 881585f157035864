#pragma once

#include <QString>
#include <cstdio>
#include <optional>

#include "server/pg_connection.h"

// The web service's accounts: a name and the argon2id hash of its password, kept on the lab
// server (kivo_web_users). Passwords are never kept nor logged anywhere else.
namespace lab {

// Initialises libsodium; false when it cannot be used.
bool InitCrypto();

// The argon2id hash of `password` in libsodium's string form; empty when it could not be made
// (out of memory).
QString HashPassword(const QString& password);

// Whether `password` matches `hash`. A password is checked against a hash made for nothing
// when the account does not exist, so that the time taken does not tell the names.
bool PasswordMatches(const QString& hash, const QString& password);

// Why a name or a password cannot be an account's, for the administrator; empty when they can.
QString AccountNameProblem(const QString& name);
QString PasswordProblem(const QString& password);

// Stores the account (a new password for a name that exists). Throws server::PgError.
void StoreWebUser(server::PgConnection& db, const QString& name, const QString& hash);

// The hash kept for `name`; nothing when there is no such account. Throws server::PgError.
std::optional<QString> WebUserHash(server::PgConnection& db, const QString& name);

// Reads a line of `in` without echoing it when it is a terminal (the prompt goes to `out`);
// nothing at the end of the input.
std::optional<QString> ReadSecretLine(std::FILE* in, std::FILE* out, const char* prompt);

}  // namespace lab
