#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <memory>

#include "export/excel_driver.h"
#include "export/report_plan.h"

// What the recording drivers of one test did, and how they are told to fail.
struct DriverLog {
    QStringList ops;  // "start", "open <path>", "select <name>", "cell B2 <text>",
                      // "width 15", "save <path>", "end"
    QString failOn;   // the first operation that begins with this text fails
    int driversMade = 0;
};

// A driver that logs every operation; "save" writes a small file at the path it is given.
class RecordingExcelDriver : public ExcelDriver {
  public:
    explicit RecordingExcelDriver(std::shared_ptr<DriverLog> log) : m_log(std::move(log)) {
        ++m_log->driversMade;
    }

    bool start() override { return record("start"); }
    bool openTemplate(const QString& path) override { return record("open " + path); }
    bool selectSheet(const QString& name) override { return record("select " + name); }
    bool setCell(int row, int column, const QString& text) override {
        return record("cell " + CellName(row, column) + " " + text);
    }
    bool setColumnWidth(int width) override {
        return record(QStringLiteral("width %1").arg(width));
    }
    bool saveAs(const QString& path) override {
        if (!record("save " + path)) return false;
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write("recorded workbook") > 0;
    }
    bool end() override { return record("end"); }
    QString lastError() const override { return m_error; }

  private:
    bool record(const QString& op) {
        m_log->ops << op;
        if (!m_log->failOn.isEmpty() && op.startsWith(m_log->failOn)) {
            m_log->failOn.clear();
            m_error = QStringLiteral("按脚本失败");
            return false;
        }
        m_error.clear();
        return true;
    }

    std::shared_ptr<DriverLog> m_log;
    QString m_error;
};
