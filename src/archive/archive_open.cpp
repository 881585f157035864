#include "archive/archive_open.h"

#include <sys/stat.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <optional>

#include "archive/archive_messages.h"

namespace archive {
namespace {

constexpr int kOpenFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;

bool IsDamage(const SqlError& error) {
    return error.primary() == SQLITE_CORRUPT || error.primary() == SQLITE_NOTADB;
}

// A free name beside `path` that says what it holds and since when.
QString AsideName(const QString& path) {
    const QString base = path + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(name) || QFileInfo::exists(name + "-wal"); ++n)
        name = base + QStringLiteral("-%1").arg(n);
    return name;
}

// Moves the file and its journal files aside; false when the main file could not be moved.
bool MoveAside(const QString& path, const QString& aside) {
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) != 0)
        return false;
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        const QString from = path + QLatin1String(suffix);
        if (QFileInfo::exists(from))
            ::rename(QFile::encodeName(from).constData(),
                     QFile::encodeName(aside + QLatin1String(suffix)).constData());
    }
    return true;
}

// The operators share the archive (the program's folder belongs to their group): a new
// archive is writable by the group, and SQLite gives its journal files the same mode.
void ShareWithGroup(const QString& path) {
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &st) == 0)
        ::chmod(name.constData(), st.st_mode | S_IRGRP | S_IWGRP);
}

enum class Outcome { Ready, TooNew, NoWal };

Outcome Prepare(Connection& db, int busyTimeoutMs, int version, int* found) {
    sqlite3_busy_timeout(db.get(), busyTimeoutMs);
    // The version is read before anything is changed: a newer program's archive stays as it is.
    *found = ArchiveVersion(db);
    if (*found > kArchiveVersion) return Outcome::TooNew;
    const auto isWal = [](const QString& mode) {
        return mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
    };
    // SQLite answers with the mode it runs in: without shared memory for the WAL index it
    // stays in its rollback journal, where a reader blocks the writer.
    if (!isWal(db.queryText("PRAGMA journal_mode")) &&
        !isWal(db.queryText("PRAGMA journal_mode=WAL")))
        return Outcome::NoWal;
    ConfigureConnection(db, busyTimeoutMs);
    // Reading the whole schema makes SQLite report a damaged file now rather than mid-test.
    db.queryInt("SELECT count(*) FROM sqlite_schema");
    UpgradeArchive(db, version);
    return Outcome::Ready;
}

}  // namespace

void ConfigureConnection(Connection& db, int busyTimeoutMs) {
    sqlite3_busy_timeout(db.get(), busyTimeoutMs);
    db.exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
}

OpenedArchive OpenArchive(const QString& path, int busyTimeoutMs, int version, Damage damage) {
    OpenedArchive opened;
    // Held before the file is opened, so that a writer that finds itself alone knows that no
    // one is about to open the old file either.
    opened.use = std::make_unique<ArchiveUse>(path);
    QString renamed;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool existed = QFileInfo::exists(path);
        std::unique_ptr<Connection> db;
        try {
            if (damage == Damage::KnownDamaged && attempt == 0 && existed)
                throw SqlError(SQLITE_CORRUPT, 0, "damaged while written");
            db = std::make_unique<Connection>(path, kOpenFlags);
            if (!existed) ShareWithGroup(path);
            int found = 0;
            switch (Prepare(*db, busyTimeoutMs, version, &found)) {
                case Outcome::TooNew:
                    opened.message = TooNewText(path, found);
                    return opened;
                case Outcome::NoWal:
                    opened.message = renamed + NoWalText(path);
                    return opened;
                case Outcome::Ready:
                    break;
            }
            opened.db = std::move(db);
            opened.message = renamed;
            opened.movedAside = !renamed.isEmpty();
            return opened;
        } catch (const SqlError& error) {
            db.reset();
            const QString cause = CauseText(error, path, busyTimeoutMs);
            if (!IsDamage(error) || attempt > 0 || damage == Damage::Report) {
                opened.message = renamed + CannotOpenText(path, cause);
                return opened;
            }
            // Only a program that has the file to itself moves it: another copy would go on
            // writing into the old file, and its test would vanish from the new one.
            if (!opened.use->tryAlone()) {
                opened.message = CannotOpenText(path, cause) + DamagedInUseText();
                return opened;
            }
            const QString aside = AsideName(path);
            const bool moved = MoveAside(path, aside);
            opened.use->share();
            if (!moved) {
                opened.message = CannotOpenText(path, cause);
                return opened;
            }
            renamed = RenamedAsideText(path, aside);
        }
    }
    return opened;
}

}  // namespace archive
