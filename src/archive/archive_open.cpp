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

std::optional<FileId> IdentifyFile(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
    return FileId{quint64(st.st_dev), quint64(st.st_ino)};
}

void ConfigureConnection(Connection& db, int busyTimeoutMs) {
    sqlite3_busy_timeout(db.get(), busyTimeoutMs);
    db.exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
}

OpenedArchive OpenArchive(const QString& path, int busyTimeoutMs, int version, Damage damage,
                          std::optional<FileId> knownDamaged) {
    OpenedArchive opened;
    // Held before the file is opened, so that a writer that finds itself alone knows that no
    // one is about to open the old file either, nor to put another one in its place.
    opened.use = std::make_unique<ArchiveUse>(path);
    QString renamed;
    // Two tries: the file found, then the new one made in place of a damaged one; a file that
    // changed under a conversion to the exclusive hold is opened once more as it is.
    for (int attempt = 0, tries = 2; attempt < tries; ++attempt) {
        const std::optional<FileId> id = IdentifyFile(path);
        const bool existed = id.has_value();
        std::unique_ptr<Connection> db;
        try {
            if (knownDamaged && attempt == 0 && id == knownDamaged)
                throw SqlError(SQLITE_CORRUPT, 0, "damaged while written");
            db = std::make_unique<Connection>(path, kOpenFlags);
            if (!existed) ShareWithGroup(path);
            int found = 0;
            switch (Prepare(*db, busyTimeoutMs, version, &found)) {
                case Outcome::TooNew:
                    opened.message = TooNewText(path, found);
                    opened.permanent = true;
                    return opened;
                case Outcome::NoWal:
                    opened.message = renamed + NoWalText(path);
                    opened.permanent = true;
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
            if (!IsDamage(error) || attempt > 0 || damage == Damage::Report || !existed) {
                opened.message = renamed + CannotOpenText(path, cause);
                return opened;
            }
            // Only a program that has the file to itself moves it: another copy would go on
            // writing into the old file, and its test would vanish from the new one.
            if (!opened.use->tryAlone()) {
                opened.message = CannotOpenText(path, cause) + DamagedInUseText();
                opened.damaged = id;
                return opened;
            }
            // The hold was let go for a moment while it was turned exclusive: the file is moved
            // only when it is still the one found damaged.
            if (IdentifyFile(path) != id) {
                opened.use->share();
                if (tries < 3) ++tries;
                knownDamaged.reset();
                continue;
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
