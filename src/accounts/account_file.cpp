#include "accounts/account_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

#include "platform/gbk_codec.h"
#include "platform/message_box.h"
#include "platform/program_folder.h"

namespace AccountFile {
namespace {

void report(QWidget* owner, const QString& text) {
    MessageBox::show(owner, text, MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                     MessageBox::Icon::Exclamation);
}

QString nativePath(const QString& p) { return QDir::toNativeSeparators(p); }

// Why the file could not be created or replaced, with what the operator can do about it.
QString writeFailure(const QString& what) {
    const QString file = path();
    const QFileInfo folder(ProgramFolder::path());
    if (!folder.isDir() || !folder.isWritable()) {
        return QStringLiteral(
                   "%1：程序所在的文件夹 %2 不可写，用户文件 data.bk 保存在这里。\n"
                   "请给该文件夹写权限，或把程序放到可写的文件夹中。")
            .arg(what, nativePath(folder.filePath()));
    }
    const QFileInfo info(file);
    if (info.exists() && !info.isWritable()) {
        return QStringLiteral("%1：用户文件 %2 是只读的，请给它写权限。")
            .arg(what, nativePath(file));
    }
    return QStringLiteral("%1：写用户文件 %2 失败（磁盘可能已满）。").arg(what, nativePath(file));
}

QString readFailure() {
    const QString file = path();
    const QFileInfo info(file);
    if (!info.exists())
        return QStringLiteral("用户文件 %1 不存在（新建实验时会重新建立默认的用户文件）。")
            .arg(nativePath(file));
    if (info.isDir())
        return QStringLiteral("用户文件 %1 是一个文件夹，无法读取。").arg(nativePath(file));
    if (!info.isReadable())
        return QStringLiteral("没有读取用户文件 %1 的权限。").arg(nativePath(file));
    return QStringLiteral("无法读取用户文件 %1。").arg(nativePath(file));
}

// Writes `content` as the whole file: a temporary file in the same folder, renamed over
// the old one only when every byte is on disk.
bool replaceWhole(const QByteArray& content) {
    QSaveFile file(path());
    if (!file.open(QIODevice::WriteOnly)) return false;
    // Flushed here: commit() misses a buffer that did not reach a full disk.
    if (file.write(content) != content.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// GBK bytes of a name or password, or a message why it cannot be stored.
std::optional<QByteArray> storable(QWidget* owner, const QString& text, const QString& what) {
    // A line break would split the record; other control characters cannot be seen or
    // typed back at the login.
    if (std::any_of(text.begin(), text.end(),
                    [](QChar c) { return c.category() == QChar::Other_Control; })) {
        report(owner,
               QStringLiteral("%1中不能含有换行符、制表符等控制字符，请重新输入。").arg(what));
        return std::nullopt;
    }
    auto bytes = gbk::encode(text);
    if (!bytes) {
        report(owner, QStringLiteral("%1中含有无法保存的字符（只能使用 GBK 字符集中的字符），"
                                     "请重新输入。")
                          .arg(what));
    }
    return bytes;
}

}  // namespace

QString path() { return ProgramFolder::path() + QStringLiteral("data.bk"); }

bool ensure(QWidget* owner) {
    if (QFileInfo::exists(path())) return true;
    if (replaceWhole(DefaultAccountFile())) return true;
    report(owner, writeFailure(QStringLiteral("无法创建用户文件")));
    return false;
}

std::optional<QList<AccountRecord>> read(QWidget* owner) {
    QFile file(path());
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly)) {
        report(owner, readFailure());
        return std::nullopt;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        report(owner, readFailure());
        return std::nullopt;
    }
    return ParseAccountRecords(content);
}

bool append(QWidget* owner, const QString& name, const QString& password) {
    const auto nameBytes = storable(owner, name, QStringLiteral("用户名"));
    if (!nameBytes) return false;
    const auto passwordBytes = storable(owner, password, QStringLiteral("密码"));
    if (!passwordBytes) return false;

    QFile file(path());
    if (!QFileInfo(file).isFile()) {
        report(owner, readFailure());
        return false;
    }
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        report(owner, writeFailure(QStringLiteral("无法添加用户")));
        return false;
    }
    const qint64 oldSize = file.size();
    QByteArray record = AccountRecordBytes(*nameBytes, *passwordBytes);
    // A last line without its LF would otherwise swallow the new name.
    if (oldSize > 0) {
        char last = 0;
        if (!file.seek(oldSize - 1) || !file.getChar(&last)) {
            report(owner, writeFailure(QStringLiteral("无法添加用户")));
            return false;
        }
        if (last != '\n') record.prepend("\r\n");
    }
    bool ok = file.seek(oldSize) && file.write(record) == record.size() && file.flush();
    if (!ok) file.resize(oldSize);  // never leave half a record behind
    file.close();
    ok = ok && file.error() == QFileDevice::NoError;
    if (!ok) report(owner, writeFailure(QStringLiteral("无法添加用户")));
    return ok;
}

bool remove(QWidget* owner, const QByteArray& name) {
    const auto records = read(owner);
    if (!records) return false;
    if (replaceWhole(AccountFileWithout(*records, name))) return true;
    report(owner, writeFailure(QStringLiteral("无法删除用户")));
    return false;
}

}  // namespace AccountFile
