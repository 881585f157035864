#include "archive/archive_messages.h"

#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>

#include "archive/archive_schema.h"

namespace archive {

QString CauseText(const SqlError& error, const QString& path, int busyTimeoutMs) {
    const int sys = error.systemErrno;
    switch (error.primary()) {
        case SQLITE_FULL:
            return QStringLiteral("磁盘已满");
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return QStringLiteral("档案被另一个程序占用超过 %1 秒").arg(busyTimeoutMs / 1000.0);
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return QStringLiteral("档案已损坏，不是可读的数据库");
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return QStringLiteral("档案或它所在的文件夹只读，没有写入权限");
        default:
            break;
    }
    if (sys == ENOSPC || sys == EDQUOT) return QStringLiteral("磁盘已满");
    if (sys == EACCES || sys == EPERM || sys == EROFS)
        return QStringLiteral("档案或它所在的文件夹只读，没有写入权限");
    if (error.primary() == SQLITE_CANTOPEN) {
        // SQLite retries a refused open read-only, so errno tells the last try's story: ask
        // the file system instead.
        const QString folder = QFileInfo(path).absolutePath();
        if (!QFileInfo(folder).isDir()) return QStringLiteral("文件夹 %1 不存在").arg(folder);
        const QString target = QFileInfo::exists(path) ? path : folder;
        if (::access(QFile::encodeName(target).constData(), W_OK) != 0)
            return QStringLiteral("档案或它所在的文件夹只读，没有写入权限");
        return QStringLiteral("无法打开文件（系统错误 %1）").arg(sys);
    }
    if (error.primary() == SQLITE_IOERR)
        return QStringLiteral("磁盘读写出错（系统错误 %1）").arg(sys);
    return QStringLiteral("数据库错误 %1（%2）")
        .arg(error.code)
        .arg(QString::fromUtf8(error.what()));
}

QString WriterConsequence() {
    return QStringLiteral(
        "本次实验照常进行，记录仍可用“保存文本数据”等按钮导出。程序会每隔 10 秒重试，"
        "档案恢复后自动补写全部记录。");
}

QString PermanentConsequence() {
    return QStringLiteral(
        "本次实验照常进行，但记录不会存入测试档案，请用“保存文本数据”等按钮导出。"
        "处理好档案后重新启动程序。");
}

QString WritesRestoredText(const QString& path, qint64 lostPolls) {
    if (lostPolls <= 0)
        return QStringLiteral("测试档案已恢复写入：%1。此前未能写入的记录已全部补写。").arg(path);
    return QStringLiteral(
               "测试档案已恢复写入：%1。此前未能写入的记录和状态已全部补写；"
               "积压过久，最早的 %2 次轮询数据未能保存。")
        .arg(path)
        .arg(lostPolls);
}

QString EndingNotKeptText(const QString& path, const QString& test) {
    return QStringLiteral(
               "%1的结束状态既无法写入测试档案 %2，也无法存放在档案旁。请勿关闭实验窗口，"
               "先用“保存文本数据”等按钮导出记录；若程序意外退出，下次可能会询问该实验是否"
               "未正常结束，此时请选择放弃恢复。")
        .arg(test, path);
}

QString UnwrittenAtEndText(const QString& path, const std::vector<UnwrittenTest>& tests,
                           const UnwrittenEvents& events) {
    bool records = false, polls = false, states = false, statesKept = false;
    QStringList parts;
    for (const UnwrittenTest& t : tests) {
        QStringList kinds;
        if (t.records > 0) kinds << QStringLiteral("%1 条记录").arg(t.records);
        if (t.polls > 0) kinds << QStringLiteral("%1 次轮询数据").arg(t.polls);
        if (t.states > 0) kinds << QStringLiteral("%1 次状态变化").arg(t.states);
        QString text = t.test;
        if (!kinds.isEmpty()) text += QStringLiteral("有 ") + kinds.join(QStringLiteral("、"));
        if (t.endingLost)
            text +=
                QStringLiteral("（结束状态也未能保存，下次启动时可能被问到是否恢复，请选择放弃）");
        parts << text;
        records |= t.records > 0;
        polls |= t.polls > 0;
        states |= t.states > 0;
        statesKept |= t.states > 0 && !t.endingLost;
    }
    const int eventCount = events.kept + events.lost;
    if (eventCount > 0) parts << QStringLiteral("另有 %1 条操作审计记录").arg(eventCount);
    const bool onlyRecords = !polls && !states && eventCount == 0;
    QString text = QStringLiteral("程序结束前仍有%1未能存入测试档案 %2：%3。")
                       .arg(onlyRecords ? QStringLiteral("记录") : QStringLiteral("数据"), path,
                            parts.join(QStringLiteral("；")));
    if (records) text += QStringLiteral("这些记录只保存在已导出的文件（“保存文本数据”等）中。");
    if (polls) text += QStringLiteral("轮询数据已无法保存。");
    if (statesKept) text += QStringLiteral("状态变化已存放在档案旁，下次打开该档案时补写。");
    if (events.kept > 0)
        text += QStringLiteral("%1 条操作审计记录已存放在档案旁，下次打开该档案时补写。")
                    .arg(events.kept);
    if (events.lost > 0) text += QStringLiteral("%1 条操作审计记录未能保存。").arg(events.lost);
    return text;
}

QString NoWalText(const QString& path) {
    return QStringLiteral(
               "测试档案 %1 无法使用：它所在文件夹的文件系统不支持档案所需的 WAL 日志方式"
               "（共享内存）。请把档案放在本机磁盘上。")
        .arg(path);
}

QString DamagedInUseText() {
    return QStringLiteral("另一个程序正在使用该档案，待它关闭后再把损坏的文件改名保存。");
}

QString CannotOpenText(const QString& path, const QString& cause) {
    return QStringLiteral("测试档案 %1 无法打开：%2。").arg(path, cause);
}

QString CannotWriteText(const QString& path, const QString& cause) {
    return QStringLiteral("测试档案 %1 无法写入：%2。").arg(path, cause);
}

QString CannotReadText(const QString& path, const QString& cause) {
    return QStringLiteral("测试档案 %1 无法读取：%2。").arg(path, cause);
}

QString TooNewText(const QString& path, int foundVersion) {
    return QStringLiteral(
               "测试档案 %1 由较新版本的程序写入（档案版本 %2，本程序只认识到版本 %3），"
               "本程序不改动它。请改用较新版本的程序。")
        .arg(path)
        .arg(foundVersion)
        .arg(kArchiveVersion);
}

QString RenamedAsideText(const QString& path, const QString& aside) {
    return QStringLiteral(
               "测试档案 %1 已损坏，不是可读的数据库。原文件已原样改名保存为 %2，"
               "并在原处新建了空白档案。")
        .arg(path, aside);
}

}  // namespace archive
