#include "export/excel_report.h"

#include <stdio.h>
#include <string.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <mutex>

#include "export/file_replace.h"
#include "platform/program_folder.h"

namespace {

std::mutex g_factoryMutex;
ExcelDriverFactory g_factory;

std::unique_ptr<ExcelDriver> MakeDriver() {
    ExcelDriverFactory factory;
    {
        std::lock_guard lock(g_factoryMutex);
        factory = g_factory;
    }
    return factory ? factory() : CreateExcelDriver();
}

QString NotSaved(const QString& targetPath) {
    return QStringLiteral("Excel报表“%1”没有保存。").arg(targetPath);
}

QString WithReason(const QString& text, const QString& reason) {
    return reason.isEmpty() ? text : text + QStringLiteral("\n原因：") + reason;
}

// Keeps the permissions of the file being replaced; a new file is readable by everyone.
void SetTargetPermissions(const QString& tempPath, const QString& targetPath) {
    const QFileInfo old(targetPath);
    QFile::setPermissions(tempPath, old.exists() ? old.permissions()
                                                 : QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ReadGroup | QFile::ReadOther);
}

}  // namespace

void SetExcelDriverFactory(ExcelDriverFactory factory) {
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

QString RunReport(ExcelDriver& driver, const QString& templatePath,
                  const std::vector<ReportStep>& plan, const QString& targetPath) {
    const QFileInfo target(targetPath);
    const QString folder = target.absolutePath();
    // A read-only report stays as it is; the office is not even started for it.
    if (const QString readOnly = ReadOnlyTargetReason(targetPath); !readOnly.isEmpty())
        return NotSaved(targetPath) + "\n" + readOnly;

    // The office writes into a temporary file beside the target; only a complete workbook
    // replaces the target.
    QTemporaryFile temp(folder + "/.~" + target.completeBaseName() + "-XXXXXX.xls");
    if (!temp.open()) {
        return NotSaved(targetPath) +
               QStringLiteral(
                   "\n无法在文件夹“%1”中写入文件（%2）。请检查该文件夹的写入权限，"
                   "或选择其他文件夹。")
                   .arg(folder, temp.errorString());
    }
    const QString tempPath = temp.fileName();
    temp.close();
    // The office locks the file it stores with a ".~lock.<name>#" file beside it and may
    // leave that behind when the store fails (a full disk): it goes with the temporary file.
    struct LockFileRemover {
        QString path;
        ~LockFileRemover() { QFile::remove(path); }
    } lockFile{folder + "/.~lock." + QFileInfo(tempPath).fileName() + "#"};

    if (!driver.start()) {
        return kExcelStartFailed + QStringLiteral("\n\n") +
               WithReason(QStringLiteral("无法启动办公软件的电子表格程序。请确认已安装 LibreOffice "
                                         "Calc（软件包 libreoffice-calc）。"),
                          driver.lastError());
    }

    auto failed = [&](const QString& what) {
        const QString message = NotSaved(targetPath) + "\n" + WithReason(what, driver.lastError());
        driver.end();
        return message;
    };

    if (!driver.openTemplate(templatePath)) {
        return failed(QStringLiteral("无法打开模板文件“%1”。").arg(templatePath));
    }
    QString sheet;
    for (const ReportStep& step : plan) {
        switch (step.kind) {
            case ReportStep::Kind::SelectSheet:
                sheet = step.sheet;
                if (!driver.selectSheet(step.sheet)) {
                    return failed(QStringLiteral("处理模板文件“%1”的工作表“%2”时出错。")
                                      .arg(templatePath, step.sheet));
                }
                break;
            case ReportStep::Kind::SetCell:
                if (!driver.setCell(step.row, step.column, step.text)) {
                    return failed(QStringLiteral("写入工作表“%1”的单元格 %2 时出错。")
                                      .arg(sheet, CellName(step.row, step.column)));
                }
                break;
            case ReportStep::Kind::ColumnWidth:
                if (!driver.setColumnWidth(step.width)) {
                    return failed(QStringLiteral("设置工作表“%1”的列宽时出错。").arg(sheet));
                }
                break;
        }
    }
    if (!driver.saveAs(tempPath)) {
        return failed(QStringLiteral("电子表格程序在文件夹“%1”中保存文件时出错。").arg(folder));
    }
    driver.end();

    if (QFileInfo(tempPath).size() <= 0) {
        return NotSaved(targetPath) + QStringLiteral("\n电子表格程序没有写出任何内容。");
    }
    SetTargetPermissions(tempPath, targetPath);
    if (::rename(QFile::encodeName(tempPath).constData(),
                 QFile::encodeName(targetPath).constData()) != 0) {
        const int error = errno;
        // Made read-only or immutable while the office worked.
        if (const QString readOnly = ReadOnlyTargetReason(targetPath); !readOnly.isEmpty())
            return NotSaved(targetPath) + "\n" + readOnly;
        return NotSaved(targetPath) + QStringLiteral("\n无法替换该文件：%1。")
                                          .arg(QString::fromLocal8Bit(strerror(error)));
    }
    return {};
}

QString ReportTemplatePath() { return ProgramFolder::path() + kReportTemplateName; }

QString CheckReportTarget(const QString& templatePath, const QString& targetPath) {
    const QFileInfo templateInfo(templatePath);
    if (!templateInfo.isFile()) return kTemplateMissing;
    if (templateInfo.canonicalFilePath() == QFileInfo(targetPath).canonicalFilePath()) {
        return NotSaved(targetPath) +
               QStringLiteral("\n报表不能保存在模板文件上，请选择其他文件名。");
    }
    return {};
}

QString WriteReport(const ReportSnapshot& snapshot, const QString& templatePath,
                    const QString& targetPath) {
    const std::vector<ReportStep> plan = BuildReportPlan(snapshot);
    std::unique_ptr<ExcelDriver> driver = MakeDriver();
    return RunReport(*driver, templatePath, plan, targetPath);
}
