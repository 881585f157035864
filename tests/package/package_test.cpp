#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {

QString run(const QString& program, const QStringList& args, const QString& dir, int* status) {
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    process.waitForFinished(300000);
    *status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll());
}

// Builds the .deb from this build, checks its layout, and starts the program from the
// unpacked folder.
TEST(Package, DebInstallsIntoOptKivoAndTheProgramFindsItsFiles) {
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    int status = 0;
    QString out = run("cpack", {"-G", "DEB", "--config", QString(KIVO_BINARY_DIR) + "/CPackConfig.cmake",
                                "-B", work.path()},
                      work.path(), &status);
    ASSERT_EQ(status, 0) << out.toStdString();
    const QStringList debs = QDir(work.path()).entryList({"kivo_*.deb"});
    ASSERT_EQ(debs.size(), 1) << out.toStdString();
    const QString deb = work.path() + "/" + debs.first();

    const QString listing = run("dpkg-deb", {"-c", deb}, work.path(), &status);
    ASSERT_EQ(status, 0);
    for (const char* path : {"./opt/kivo/kivo", "./opt/kivo/模板.xls", "./opt/kivo/data.bk",
                             "./usr/share/applications/kivo.desktop",
                             "./usr/share/icons/hicolor/128x128/apps/kivo.png"})
        EXPECT_TRUE(listing.contains(QString::fromUtf8(path))) << path;

    const QString control = run("dpkg-deb", {"-f", deb, "Depends"}, work.path(), &status);
    for (const char* dependency :
         {"libqt6widgets6", "libqt6printsupport6", "qt6-translations-l10n", "fonts-arphic-uming",
          "libreoffice-calc", "libpq5", "libqrencode4"})
        EXPECT_TRUE(control.contains(dependency)) << dependency;
    const QString conffiles = run("dpkg-deb", {"-I", deb, "conffiles"}, work.path(), &status);
    EXPECT_TRUE(conffiles.contains("/opt/kivo/data.bk"));

    const QString root = work.path() + "/root";
    run("dpkg-deb", {"-x", deb, root}, work.path(), &status);
    ASSERT_EQ(status, 0);
    QFile accounts(root + "/opt/kivo/data.bk");
    ASSERT_TRUE(accounts.open(QIODevice::ReadOnly));
    EXPECT_EQ(accounts.readAll(), QByteArray("admin\r\n579\r\n"));

    const QString report = run(root + "/opt/kivo/kivo", {"--check-install"}, root, &status);
    EXPECT_EQ(status, 0) << report.toStdString();
    EXPECT_TRUE(report.contains(root + "/opt/kivo/")) << report.toStdString();
    EXPECT_TRUE(report.contains("模板.xls: 有")) << report.toStdString();
}

}  // namespace
