// The web service's package: its own .deb with the program, a hardened systemd unit running as
// its own user, and the configuration as a conffile only root and that user may read.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

QString Output(const QString& program, const QStringList& args, int* status) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(600000);
    *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAll());
}

// For each library a program ($1) names, the package that holds it and the library's name.
// clang-format off
constexpr const char* kPackagesOfLibraries = R"sh(b="$1"
for n in $(readelf -d "$b" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
  p=$(ldd "$b" | awk -v n="$n" '$1 == n && $2 == "=>" { print $3; exit }')
  k=
  for c in "$p" "$(readlink -f "$p")" "/usr$p" "${p#/usr}"; do
    k=$(dpkg -S "$c" 2>/dev/null | head -n 1) && [ -n "$k" ] && break
  done
  echo "${k%%:*}" "$n"
done)sh";
// clang-format on

TEST(LabPackage, DebOfItsOwnWithUnitAndConffile) {
    QTemporaryDir out;
    int status = 0;
    const QString made = Output(QStringLiteral(KIVO_BINARY_DIR "/packaging/lab/make-lab-deb"),
                                {out.path()}, &status);
    ASSERT_EQ(status, 0) << made.toStdString();
    const QString deb = out.filePath(QStringLiteral("kivo-lab_1.0.0_amd64.deb"));

    const QString listing =
        Output(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb}, &status);
    ASSERT_EQ(status, 0);
    const struct {
        const char* mode;
        const char* path;
    } files[] = {
        {"-rwxr-xr-x", "./usr/bin/kivo-lab"},
        {"-rw-r--r--", "./lib/systemd/system/kivo-lab.service"},
        {"-rw-r-----", "./etc/kivo-lab/kivo-lab.ini"},
        {"-rw-r--r--", "./usr/share/doc/kivo-lab/README"},
    };
    for (const auto& f : files) {
        const QRegularExpression line(
            QStringLiteral("^%1 root/root .* %2$")
                .arg(QRegularExpression::escape(QString::fromLatin1(f.mode)),
                     QRegularExpression::escape(QString::fromLatin1(f.path))),
            QRegularExpression::MultilineOption);
        EXPECT_TRUE(line.match(listing).hasMatch()) << f.path << "\n" << listing.toStdString();
    }
    EXPECT_FALSE(listing.contains(QStringLiteral("/opt/kivo"))) << "the benches' files stay theirs";

    const QString conffiles =
        Output(QStringLiteral("dpkg-deb"), {QStringLiteral("-I"), deb, QStringLiteral("conffiles")},
               &status);
    EXPECT_EQ(conffiles.trimmed(), QStringLiteral("/etc/kivo-lab/kivo-lab.ini"));
    const QString depends = Output(QStringLiteral("dpkg-deb"),
                                   {QStringLiteral("-f"), deb, QStringLiteral("Depends")}, &status);
    for (const char* d : {"qt6-qpa-plugins", "adduser"})
        EXPECT_TRUE(depends.contains(QString::fromLatin1(d))) << d;

    QTemporaryDir root;
    Output(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, root.path()}, &status);
    ASSERT_EQ(status, 0);

    // Every library the program links is in a package it depends on (but the C library and
    // the compiler's runtime every system has, and a sanitizer build's own runtimes).
    QStringList depended;
    for (const QString& alternatives : depends.split(u','))
        for (const QString& one : alternatives.split(u'|'))
            depended << one.trimmed().section(u' ', 0, 0);
    const QString packages =
        Output(QStringLiteral("sh"),
               {QStringLiteral("-c"), QString::fromLatin1(kPackagesOfLibraries),
                QStringLiteral("sh"), root.filePath(QStringLiteral("usr/bin/kivo-lab"))},
               &status);
    ASSERT_EQ(status, 0) << packages.toStdString();
    const QStringList exempt{QStringLiteral("libc6"), QStringLiteral("libgcc-s1"),
                             QStringLiteral("libasan8"), QStringLiteral("libubsan1"),
                             QStringLiteral("libtsan2")};
    int libraries = 0;
    for (const QString& line : packages.split(u'\n', Qt::SkipEmptyParts)) {
        ++libraries;
        const QString package = line.section(u' ', 0, 0);
        if (exempt.contains(package)) continue;
        EXPECT_TRUE(!package.isEmpty() && depended.contains(package))
            << line.toStdString() << " is not in Depends: " << depends.toStdString();
    }
    EXPECT_GT(libraries, 5) << packages.toStdString();
    QFile unit(root.filePath(QStringLiteral("lib/systemd/system/kivo-lab.service")));
    ASSERT_TRUE(unit.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(unit.readAll());
    for (const char* setting :
         {"User=kivo-lab", "ExecStart=/usr/bin/kivo-lab --config /etc/kivo-lab/kivo-lab.ini",
          "NoNewPrivileges=yes", "ProtectSystem=strict", "ProtectHome=yes", "PrivateTmp=yes",
          "CapabilityBoundingSet=\n"})
        EXPECT_TRUE(text.contains(QString::fromLatin1(setting))) << setting;
    const QString postinst =
        Output(QStringLiteral("dpkg-deb"), {QStringLiteral("-I"), deb, QStringLiteral("postinst")},
               &status);
    EXPECT_TRUE(postinst.contains(
        QStringLiteral("chown root:kivo-lab /etc/kivo-lab /etc/kivo-lab/kivo-lab.ini")));
    EXPECT_TRUE(postinst.contains(QStringLiteral("chmod 0640 /etc/kivo-lab/kivo-lab.ini")));
    // An upgrade restarts a running service; a purge takes the service's files and user.
    EXPECT_TRUE(postinst.contains(QStringLiteral("try-restart kivo-lab.service")));
    const QString postrm = Output(QStringLiteral("dpkg-deb"),
                                  {QStringLiteral("-I"), deb, QStringLiteral("postrm")}, &status);
    EXPECT_TRUE(postrm.contains(QStringLiteral("rm -rf /etc/kivo-lab"))) << postrm.toStdString();
    EXPECT_TRUE(postrm.contains(QStringLiteral("deluser --system kivo-lab")));

    // The configuration as installed is one the program reads.
    QProcess check;
    check.start(
        root.filePath(QStringLiteral("usr/bin/kivo-lab")),
        {QStringLiteral("--config"), root.filePath(QStringLiteral("etc/kivo-lab/kivo-lab.ini")),
         QStringLiteral("--add-user"), QStringLiteral("x")});
    check.closeWriteChannel();
    ASSERT_TRUE(check.waitForFinished(120000));
    EXPECT_TRUE(
        QString::fromUtf8(check.readAllStandardError()).contains(QStringLiteral("没有读到密码")));
}

}  // namespace
