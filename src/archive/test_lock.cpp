#include "archive/test_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>

#include "archive/lock_folder.h"
#include "archive/process_mark.h"
#include "archive/test_endings.h"
#include "archive/test_lock_name.h"

namespace archive {
namespace {

QString ErrnoText(int error) {
    if (error == ENOSPC || error == EDQUOT) return QStringLiteral("磁盘已满");
    if (error == EACCES || error == EPERM || error == EROFS) return QStringLiteral("没有写入权限");
    if (error == EMFILE || error == ENFILE) return QStringLiteral("打开的文件过多");
    return QStringLiteral("系统错误 %1").arg(error);
}

// Why the test's name is not this program's, for the operator; empty when it is bound.
QString NameProblem(const NameHold& name) {
    switch (name.result) {
        case NameHold::Result::Bound:
        case NameHold::Result::HeldHere:
            return {};
        case NameHold::Result::HeldByOtherAccount:
            return QStringLiteral("实验锁在本机的名称被 uid 为 %1 的另一个账户占用")
                .arg(name.holder);
        case NameHold::Result::Unchecked:
            break;
    }
    return QStringLiteral("实验锁在本机的名称无法建立：%1").arg(NameErrorText(name.error));
}

}  // namespace

TestLock::TestLock(QString uid, QString path, int fd, int name)
    : m_uid(std::move(uid)),
      m_path(std::move(path)),
      m_fd(fd),
      m_name(name >= 0 ? std::make_unique<LockNameHolder>(name) : nullptr) {}

QString TestLock::lockPath(const QString& archivePath, const QString& uid) {
    QString name = uid;
    // A uid is the program's own (a QUuid), but a name must never leave the folder.
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return LockFolder(archivePath) + QLatin1Char('/') + name + QStringLiteral(".lock");
}

std::unique_ptr<TestLock> TestLock::tryAcquire(const QString& archivePath, const QString& uid,
                                               QString* unshared, QString* why, const QString& key,
                                               const QString& holder) {
    return acquire(archivePath, uid, key, holder, false, unshared, why);
}

std::unique_ptr<TestLock> TestLock::tryAcquireEnded(const QString& archivePath, const QString& uid,
                                                    const QString& key) {
    return acquire(archivePath, uid, key, {}, true, nullptr, nullptr);
}

std::unique_ptr<TestLock> TestLock::acquire(const QString& archivePath, const QString& uid,
                                            const QString& key, const QString& holder, bool ended,
                                            QString* unshared, QString* why) {
    if (unshared) unshared->clear();
    if (why) why->clear();
    const bool running = unshared != nullptr;
    // A test run without its lock file is its program's while that process lives.
    QString host;
    switch (CheckProcessMark(holder, &host)) {
        case MarkedProcess::Alive:
            return nullptr;
        case MarkedProcess::AnotherComputer:
            if (why)
                *why = QStringLiteral(
                           "无法确认这项实验是否仍在运行（它在计算机“%1”"
                           "上运行时没有实验锁文件，只有那台计算机上的程序能确认它是否已结束）。")
                           .arg(host.isEmpty() ? QStringLiteral("（名称未知）") : host);
            return nullptr;
        case MarkedProcess::AnotherSandbox:
            if (why)
                *why = QStringLiteral(
                    "无法确认这项实验是否仍在运行（它在本机的另一个隔离环境中运行时没有实验锁"
                    "文件，只有那个环境中的程序能确认它是否已结束）。");
            return nullptr;
        case MarkedProcess::None:
        case MarkedProcess::Gone:
            break;
    }
    const QString path = lockPath(archivePath, uid);
    const NameHold name = BindLockName(TestLockName(archivePath, uid, key));
    // A copy of the program of this account runs the test, or is asking about it.
    if (name.result == NameHold::Result::HeldHere) return nullptr;
    const QString nameProblem = NameProblem(name);
    const auto refuse = [&](const QString& reason) -> std::unique_ptr<TestLock> {
        if (name.fd >= 0) ::close(name.fd);
        if (why && !reason.isEmpty())
            *why = QStringLiteral("无法确认这项实验是否仍在运行（%1）。").arg(reason);
        return nullptr;
    };
    // The ending is looked for under the name: the program that left it let go of the name
    // only after it was written.
    if (!ended && TestEndings::pending(archivePath, uid)) return refuse({});

    const QByteArray encoded = QFile::encodeName(path);
    int error = 0;
    if (MakeLockFolder(archivePath)) {
        for (int attempt = 0; attempt < 8; ++attempt) {
            const int fd = OpenSharedFile(path);
            if (fd < 0) {
                error = errno;
                break;
            }
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                ::close(fd);
                return refuse({});
            }
            // The holder before us may have removed the file between our open and our lock:
            // the lock counts only if the name still leads to the file we locked.
            struct stat held {
            }, named{};
            if (::fstat(fd, &held) == 0 && ::stat(encoded.constData(), &named) == 0 &&
                held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
                auto lock = std::unique_ptr<TestLock>(new TestLock(uid, path, fd, name.fd));
                if (nameProblem.isEmpty()) return lock;
                // A test is taken up or deleted only when nothing on this computer can be
                // running it; one of ours runs on by its file alone.
                if (!running) {
                    lock.reset();
                    return refuse(nameProblem);
                }
                qWarning("archive: test %s runs without its machine-wide name: %s", qPrintable(uid),
                         qPrintable(nameProblem));
                return lock;
            }
            ::close(fd);
        }
    } else {
        error = errno;
    }
    if (!running)
        return refuse(QStringLiteral("实验锁 %1 无法建立：%2").arg(path, ErrnoText(error)));
    if (name.fd >= 0) {
        *unshared =
            QStringLiteral("实验锁 %1 无法建立：%2。本实验照常进行，其他程序仍知道它在运行。")
                .arg(path, ErrnoText(error));
        return std::unique_ptr<TestLock>(new TestLock(uid, path, -1, name.fd));
    }
    *unshared = QStringLiteral(
                    "实验锁 %1 无法建立：%2；%3。本实验照常进行：测试档案记下了运行它的程序，"
                    "该程序结束之前，其他程序不会恢复或删除这项实验。")
                    .arg(path, ErrnoText(error), nameProblem);
    return nullptr;
}

void TestLock::holdNameAlso(const QString& archivePath, const QString& key) {
    const NameHold name = BindLockName(TestLockName(archivePath, m_uid, key));
    if (name.fd >= 0) m_alsoName = std::make_unique<LockNameHolder>(name.fd);
}

TestLock::~TestLock() {
    if (m_fd >= 0) {
        ::unlink(QFile::encodeName(m_path).constData());
        ::close(m_fd);
    }
    m_name.reset();
    m_alsoName.reset();
}

}  // namespace archive
