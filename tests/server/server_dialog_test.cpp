// "实验室服务器": the settings kept beside the archive, the password never shown back and kept
// in a file that only its owner and group can read, and 测试连接 run without holding the window.

#include "server/server_dialog.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include "archive/lab_settings.h"
#include "server_fixture.h"

namespace {

using namespace ServerTesting;

TEST(ServerDialogTest, KeepsThePasswordHiddenAndTestsTheConnectionApart) {
    QTemporaryDir dir;
    const QByteArray former = qgetenv("KIVO_ARCHIVE");
    qputenv("KIVO_ARCHIVE", dir.filePath("kivo.sqlite").toLocal8Bit());
    const QString database = FreshDatabase();

    for (const auto& [password, result] :
         {std::pair{QStringLiteral("wrong"), QStringLiteral("无法连接：用户名或密码错误")},
          std::pair{kPassword, QStringLiteral("连接成功（未加密）")}}) {
        ServerDialog dialog;
        dialog.hostField()->setText(QStringLiteral("127.0.0.1"));
        dialog.findChildren<QSpinBox*>(Qt::FindDirectChildrenOnly)
            .at(0)
            ->setValue(Cluster().port());
        dialog.findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly).at(1)->setText(database);
        dialog.passwordField()->setText(password);
        dialog.testButton()->click();
        EXPECT_FALSE(dialog.testButton()->isEnabled());  // the window stays usable meanwhile
        EXPECT_TRUE(PumpUntil([&] { return dialog.resultText() == result; }))
            << dialog.resultText().toStdString();
        dialog.accept();
    }
    // Saved: the password is in a file of owner and group only, and never shown back.
    EXPECT_EQ(
        QFile::permissions(archive::LabSettingsPath()) & (QFile::ReadOther | QFile::WriteOther),
        QFile::Permissions());
    EXPECT_EQ(server::ReadServerSettings().password, kPassword);
    ServerDialog again;
    EXPECT_TRUE(again.passwordField()->text().isEmpty());
    EXPECT_EQ(again.settings().password, kPassword);  // an empty field keeps it
    for (QLabel* label : again.findChildren<QLabel*>())
        if (label->text().contains(QLatin1Char('&'))) {
            EXPECT_NE(label->buddy(), nullptr) << label->text().toStdString();
        }
    qputenv("KIVO_ARCHIVE", former);
}

}  // namespace
