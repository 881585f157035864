#include "app/install_check.h"

#include <QFileInfo>

#include "platform/program_folder.h"

int CheckInstall(QString* report) {
    const QString folder = ProgramFolder::path();
    const bool hasTemplate = QFileInfo(folder + QStringLiteral("模板.xls")).isFile();
    const QFileInfo accounts(folder + QStringLiteral("data.bk"));
    const bool hasAccounts = accounts.isFile();
    *report = QStringLiteral("程序目录: %1\n报表模板 模板.xls: %2\n账户文件 data.bk: %3\n")
                  .arg(folder, hasTemplate ? QStringLiteral("有") : QStringLiteral("缺少"),
                       hasAccounts ? (accounts.isWritable() ? QStringLiteral("有, 可写")
                                                            : QStringLiteral("有, 不可写"))
                                   : QStringLiteral("缺少"));
    return hasTemplate && hasAccounts ? 0 : 1;
}
