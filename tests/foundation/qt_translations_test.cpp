// Qt's own dialogs in Chinese: the save dialog the exports open (the non-native one that
// headless runs show) and its question before it replaces a file, and the print dialog.

#include "platform/qt_translations.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <memory>

#include "platform/file_dialog.h"
#include "platform/print_dialog.h"

namespace {

// True when `text` holds a CJK ideograph.
bool HasChinese(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) return true;
    return false;
}

class QtTranslations : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(InstallQtChineseTranslations(*qApp))
            << "Qt's Chinese translation is missing (Debian package qt6-translations-l10n)";
    }
    // Later tests of this program see Qt as it was.
    void TearDown() override {
        for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
    }
};

TEST_F(QtTranslations, SaveDialogAndItsOverwriteQuestionAreChinese) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString existing = folder.filePath("old.bln");
    {
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }

    QString accept, cancel, nameLabel, question;
    QStringList questionButtons;
    bool sawDialog = false;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            question = box->text();
            for (QAbstractButton* b : box->buttons()) questionButtons << b->text();
            box->button(QMessageBox::No)->click();  // keep the file; the dialog stays open
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) return;
        if (!sawDialog) {
            sawDialog = true;
            auto* buttons = dialog->findChild<QDialogButtonBox*>();
            ASSERT_NE(buttons, nullptr);
            accept = buttons->button(QDialogButtonBox::Save) != nullptr
                         ? buttons->button(QDialogButtonBox::Save)->text()
                         : buttons->buttons().value(0)->text();
            cancel = buttons->button(QDialogButtonBox::Cancel)->text();
            auto* label = dialog->findChild<QLabel*>(QStringLiteral("fileNameLabel"));
            ASSERT_NE(label, nullptr);
            nameLabel = label->text();
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText("old.bln");
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        } else if (!question.isEmpty()) {
            dialog->reject();
        }
    });
    driver.start(20);

    FileDialog::SaveRequest request;
    request.filter = QStringLiteral("*.bln");
    request.defaultSuffix = QStringLiteral("bln");
    request.proposedName = QStringLiteral("2026-12-8");
    const QString before = QDir::currentPath();
    QDir::setCurrent(folder.path());  // where the dialog opens
    EXPECT_EQ(FileDialog::getSaveFileName(nullptr, request), QString());
    QDir::setCurrent(before);
    driver.stop();

    ASSERT_TRUE(sawDialog);
    EXPECT_TRUE(HasChinese(accept)) << accept.toStdString();
    EXPECT_TRUE(accept.contains(QStringLiteral("保存"))) << accept.toStdString();
    EXPECT_EQ(cancel, QStringLiteral("取消"));
    EXPECT_TRUE(nameLabel.contains(QStringLiteral("文件名"))) << nameLabel.toStdString();
    EXPECT_TRUE(question.contains(QStringLiteral("已存在"))) << question.toStdString();
    EXPECT_TRUE(question.contains(QStringLiteral("替换"))) << question.toStdString();
    EXPECT_TRUE(question.contains(QStringLiteral("old.bln"))) << question.toStdString();
    ASSERT_EQ(questionButtons.size(), 2);
    for (const QString& b : questionButtons) EXPECT_TRUE(HasChinese(b)) << b.toStdString();
}

TEST_F(QtTranslations, FieldContextMenuIsChinese) {
    QLineEdit field;
    field.setText("admin");
    std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    ASSERT_FALSE(menu->actions().isEmpty());
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) continue;
        EXPECT_TRUE(HasChinese(action->text())) << action->text().toStdString();
    }
}

}  // namespace

// The print dialog of the test report: Qt's own, in Chinese; cancelling it prints nothing.
TEST_F(QtTranslations, PrintDialogIsChinese) {
    QString title;
    QStringList buttons;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        title = dialog->windowTitle();
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
            if (b->isVisible()) buttons << b->text();
        dialog->reject();
    });
    driver.start(20);
    QPrinter printer;
    EXPECT_FALSE(PrintDialog::choose(nullptr, printer));
    driver.stop();
    EXPECT_EQ(title, QStringLiteral("打印试验报告"));
    ASSERT_FALSE(buttons.isEmpty());
    for (const QString& b : buttons) EXPECT_TRUE(HasChinese(b)) << b.toStdString();
    EXPECT_TRUE(buttons.contains(QStringLiteral("打印(&P)"))) << buttons.join(' ').toStdString();
}
