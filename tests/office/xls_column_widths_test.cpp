// Column widths written into a saved workbook: the built template is the office's own
// output, read back with xlrd.

#include "export/office/xls_column_widths.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

namespace {

const QString kTemplate = QStringLiteral(KIVO_BINARY_DIR "/src/模板.xls");

// Per sheet: the widths of every declared column, and every cell as [type, value].
const char* kDump = R"(
import json, sys, xlrd
book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
out = {}
for s in book.sheets():
    out[s.name] = {
        "widths": sorted(set(ci.width for ci in s.colinfo_map.values())),
        "columns": len(s.colinfo_map),
        "cells": [[r, c, s.cell(r, c).ctype, str(s.cell(r, c).value)]
                  for r in range(s.nrows) for c in range(s.ncols)],
    }
print(json.dumps(out))
)";

QJsonObject Dump(const QString& path) {
    QProcess python;
    python.start("/usr/bin/python3", {"-c", kDump, path});
    if (!python.waitForFinished(20000) || python.exitCode() != 0) {
        ADD_FAILURE() << python.readAllStandardError().toStdString();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class XlsColumnWidths : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef KIVO_OFFICE_TEMPLATE
        GTEST_SKIP() << "built without the office";
#endif
        ASSERT_TRUE(m_dir.isValid());
        m_copy = m_dir.filePath("book.xls");
        ASSERT_TRUE(QFile::copy(kTemplate, m_copy));
    }
    QTemporaryDir m_dir;
    QString m_copy;
};

TEST_F(XlsColumnWidths, NamedSheetsGetTheirWidthAndNothingElseChanges) {
    const QJsonObject before = Dump(m_copy);
    const QString report = QStringLiteral("混凝土氯离子电通量试验报告");
    const QString info = QStringLiteral("试验信息");
    ASSERT_GT(before[report].toObject()["widths"].toArray().size(), 1);  // differing widths

    QString error;
    ASSERT_TRUE(SetXlsColumnWidths(m_copy, {{report, 15}, {info, 20}}, &error))
        << error.toStdString();
    EXPECT_EQ(Bytes(m_copy).size(), Bytes(kTemplate).size());

    const QJsonObject after = Dump(m_copy);
    EXPECT_EQ(after.keys(), before.keys());
    for (const QString& sheet : after.keys()) {
        const QJsonObject a = after[sheet].toObject(), b = before[sheet].toObject();
        EXPECT_EQ(a["cells"], b["cells"]) << sheet.toStdString();
        EXPECT_EQ(a["columns"], b["columns"]) << sheet.toStdString();
        if (sheet == report) {
            EXPECT_EQ(a["widths"].toArray(), QJsonArray{15 * 256});
        } else if (sheet == info) {
            EXPECT_EQ(a["widths"].toArray(), QJsonArray{20 * 256});
        } else {
            EXPECT_EQ(a["widths"], b["widths"]) << sheet.toStdString();
        }
    }
}

TEST_F(XlsColumnWidths, WhatIsNoWorkbookOrLacksTheSheetIsLeftAsItWas) {
    const QByteArray original = Bytes(m_copy);
    QString error;
    EXPECT_FALSE(SetXlsColumnWidths(m_copy, {{QStringLiteral("通道9"), 15}}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("通道9"))) << error.toStdString();
    EXPECT_EQ(Bytes(m_copy), original);

    // Not a compound file; a compound file cut short.
    const QString text = m_dir.filePath("text.xls");
    const QString cut = m_dir.filePath("cut.xls");
    for (const auto& [path, bytes] : {std::pair{text, QByteArray("保存次数,1,2\r\n")},
                                      std::pair{cut, original.left(original.size() / 3)}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        error.clear();
        EXPECT_FALSE(SetXlsColumnWidths(path, {{QStringLiteral("通道1"), 15}}, &error))
            << path.toStdString();
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(Bytes(path), bytes);
    }
    EXPECT_FALSE(SetXlsColumnWidths(m_dir.filePath("missing.xls"), {{"x", 15}}, &error));
}

}  // namespace
