#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <initializer_list>
#include <memory>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "support/scripted_dialogs.h"
#include "state/test_state.h"

// A test form with parameters set and history lists filled by hand, a scratch folder, and
// scripted dialogs.
class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        g_nRecordInterval = 5;
        g_nDiameter = 100;
        g_strTester = QStringLiteral("tester");
        g_strOrganisation = QStringLiteral("lab");
        form = std::make_unique<Testclass>();
        form->setItemTextOnGui(FormId::TestDate, QStringLiteral("2010-5-7"));
        ASSERT_TRUE(dir.isValid());
    }

    // One record of every channel in use: row appended as the record step does it.
    void record(std::initializer_list<QString> currents) {
        int slot = 0;
        for (const QString& current : currents) {
            if (g_bChannelOff[slot] == 0) {
                QTableWidget* list = form->m_listHistory[slot];
                const int row = list->rowCount();
                list->insertRow(row);
                list->setItem(row, 1, new QTableWidgetItem(QString::number(row + 1)));
                list->setItem(row, 2, new QTableWidgetItem(current));
                list->setItem(row, 3,
                              new QTableWidgetItem(QStringLiteral("%1.5(C)").arg(row * 10)));
                g_nLastRecord = static_cast<uint32_t>(row);
            }
            ++slot;
        }
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    static QByteArray readAll(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    // Makes `folder` refuse new entries, also for root (immutable flag); false when this
    // machine offers no way to do that.
    static bool makeFolderUnwritable(const QString& folder) {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        if (!folderAcceptsFiles(folder)) return true;
        QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder});
        return !folderAcceptsFiles(folder);
    }
    static void makeFolderWritable(const QString& folder) {
        QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), folder});
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    ScriptedMessageBoxes boxes;
    ScriptedFileDialogs dialogs;
    QTemporaryDir dir;
    std::unique_ptr<Testclass> form;

  private:
    static bool folderAcceptsFiles(const QString& folder) {
        QFile probe(QDir(folder).filePath(QStringLiteral(".probe")));
        if (!probe.open(QIODevice::WriteOnly)) return false;
        probe.close();
        probe.remove();
        return true;
    }
};
