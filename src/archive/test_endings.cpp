#include "archive/test_endings.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <string_view>

#include "archive/lock_folder.h"

namespace archive::TestEndings {
namespace {

constexpr std::string_view kSuffix = ".ended";

QString fileOf(const QString& archivePath, const QString& uid) {
    QString name = uid;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));  // a name never leaves the folder
    return LockFolder(archivePath) + QLatin1Char('/') + name + QLatin1String(kSuffix);
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

}  // namespace

QByteArray writeAside(const QString& archivePath, const QString& uid,
                      const std::vector<StateChange>& changes) {
    if (!MakeLockFolder(archivePath)) return {};
    QByteArray text;
    for (const StateChange& change : changes)
        text += QByteArray(StateName(change.state)) + ' ' + QByteArray::number(change.atMs) + '\n';
    // A name of its own for each write: two writers of the same test (a close that left its
    // thread behind, and that thread) never write into one file, and neither renames a file
    // the other is still writing. Readers look for the ending's name alone.
    QByteArray aside = QFile::encodeName(fileOf(archivePath, uid) + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(aside.data(), O_CLOEXEC);
    if (fd < 0) return {};
    ::fchmod(fd, 0664);
    const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    ::close(fd);
    if (written) return aside;
    ::unlink(aside.constData());
    return {};
}

bool putInPlace(const QString& archivePath, const QString& uid, const QByteArray& aside) {
    if (::rename(aside.constData(), QFile::encodeName(fileOf(archivePath, uid)).constData()) == 0)
        return true;
    ::unlink(aside.constData());
    return false;
}

void putInPlaceIfNone(const QString& archivePath, const QString& uid, const QByteArray& aside) {
    // A link fails where the name is taken, so an ending already there is never replaced.
    ::link(aside.constData(), QFile::encodeName(fileOf(archivePath, uid)).constData());
    ::unlink(aside.constData());
}

bool leave(const QString& archivePath, const QString& uid,
           const std::vector<StateChange>& changes) {
    // Written whole under another name, then renamed: a reader sees all of it or nothing.
    const QByteArray aside = writeAside(archivePath, uid, changes);
    return !aside.isEmpty() && putInPlace(archivePath, uid, aside);
}

bool pending(const QString& archivePath, const QString& uid) {
    return QFile::exists(fileOf(archivePath, uid));
}

QStringList waiting(const QString& archivePath) {
    // Read with the system's own calls: the writer looks again and again for as long as the
    // program runs, and a listing by name pattern builds and compiles an expression each time.
    QStringList uids;
    const QByteArray folder = QFile::encodeName(LockFolder(archivePath));
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr) return uids;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() <= kSuffix.size() || !name.ends_with(kSuffix) || name.front() == '.')
            continue;
        bool file = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st {};
            file = ::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (file) {
            const qsizetype length = qsizetype(name.size() - kSuffix.size());
            uids << QFile::decodeName(QByteArray(name.data(), length));
        }
    }
    ::closedir(dir);
    uids.sort();  // by name, so that looks go in a fixed order
    return uids;
}

std::vector<StateChange> read(const QString& archivePath, const QString& uid) {
    std::vector<StateChange> changes;
    QFile file(fileOf(archivePath, uid));
    if (!file.open(QIODevice::ReadOnly)) return changes;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> words = line.trimmed().split(' ');
        if (words.size() != 2) continue;
        bool ok = false;
        const qint64 atMs = words[1].toLongLong(&ok);
        const std::optional<TestState> state = StateFromName(QString::fromLatin1(words[0]));
        if (ok && state) changes.push_back({*state, atMs});
    }
    return changes;
}

void remove(const QString& archivePath, const QString& uid) {
    ::unlink(QFile::encodeName(fileOf(archivePath, uid)).constData());
}

}  // namespace archive::TestEndings
