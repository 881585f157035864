// The connection's protection against a private cluster with a certificate of a private CA
// (made here with openssl): 加密并验证服务器证书 connects to the name on the certificate and
// refuses another name or another CA with a clear cause; 测试连接 says what it got.

#include <pwd.h>
#include <unistd.h>

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include "server/server_dialog.h"
#include "server_fixture.h"
#include "support/scripted_dialogs.h"

namespace {

using server::TlsMode;

bool OpenSsl(const QString& folder, const QStringList& args) {
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), args);
    const bool ok = openssl.waitForFinished(60000) && openssl.exitCode() == 0;
    EXPECT_TRUE(ok) << args.join(' ').toStdString() << ": " << openssl.readAll().toStdString();
    return ok;
}

// A CA ("NAME.crt", "NAME.key") in `folder`.
bool MakeCa(const QString& folder, const QString& name) {
    return OpenSsl(folder, {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                            "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                            "/CN=" + name, "-keyout", name + ".key", "-out", name + ".crt"});
}

// The server's certificate for the name "localhost", signed by the CA "ca".
bool MakeServerCertificate(const QString& folder) {
    QFile extensions(folder + "/server.ext");
    if (!extensions.open(QIODevice::WriteOnly)) return false;
    extensions.write("subjectAltName = DNS:localhost\n");
    extensions.close();
    return OpenSsl(folder,
                   {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                    "-subj", "/CN=localhost", "-keyout", "server.key", "-out", "server.csr"}) &&
           OpenSsl(folder, {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey",
                            "ca.key", "-CAcreateserial", "-days", "2", "-extfile", "server.ext",
                            "-out", "server.crt"});
}

// The certificate and key handed to the cluster, which must own the key alone.
bool GiveCluster(PgCluster& cluster, const QString& folder) {
    for (const QString name : {"server.crt", "server.key"}) {
        const QString target = cluster.dataDir() + '/' + name;
        if (!QFile::copy(folder + '/' + name, target)) return false;
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        if (::geteuid() == 0) {
            const passwd* pg = ::getpwnam("postgres");
            if (!pg || ::chown(QFile::encodeName(target).constData(), pg->pw_uid, pg->pw_gid) != 0)
                return false;
        }
    }
    QFile conf(cluster.dataDir() + "/postgresql.conf");
    if (!conf.open(QIODevice::Append)) return false;
    conf.write("ssl = on\nssl_cert_file = 'server.crt'\nssl_key_file = 'server.key'\n");
    return true;
}

TEST(ServerTls, TheRightNameConnectsAWrongNameOrCaIsRefused) {
    ScriptedMessageBoxes boxes;
    QTemporaryDir keys;
    ASSERT_TRUE(MakeCa(keys.path(), "ca") && MakeCa(keys.path(), "other") &&
                MakeServerCertificate(keys.path()));
    PgCluster cluster;
    ASSERT_TRUE(cluster.valid()) << cluster.error().toStdString();
    ASSERT_TRUE(GiveCluster(cluster, keys.path()));
    ASSERT_TRUE(cluster.start()) << cluster.error().toStdString() << cluster.log().toStdString();
    ASSERT_TRUE(cluster.createRole("kivo", "Kivo-pw-1"));
    ASSERT_TRUE(cluster.createDatabase("lab", "kivo"));

    QTemporaryDir dir;
    qputenv("KIVO_ARCHIVE", dir.filePath("kivo.sqlite").toLocal8Bit());
    const QString ca = keys.filePath("ca.crt"), other = keys.filePath("other.crt");
    const struct {
        TlsMode mode;
        QString host, caFile, result;
    } cases[] = {
        {TlsMode::Verified, "localhost", ca, "连接成功（已加密，服务器证书已验证）"},
        {TlsMode::Verified, "127.0.0.1", ca,
         "无法连接：服务器证书上的名称与服务器地址不符，可能连到了别的服务器"},
        {TlsMode::Verified, "localhost", other,
         "无法连接：服务器证书不是所选的证书颁发机构签发的，或已过期"},
        {TlsMode::Verified, "localhost", "",
         "“加密并验证服务器证书”需要选择证书颁发机构（CA）的证书文件。"},
        {TlsMode::Encrypted, "127.0.0.1", "", "连接成功（已加密，未验证服务器证书）"},
        {TlsMode::Off, "127.0.0.1", "", "连接成功（已加密，未验证服务器证书）"},
    };
    for (const auto& c : cases) {
        ServerDialog dialog;
        dialog.hostField()->setText(c.host);
        dialog.portField()->setValue(cluster.port());
        dialog.databaseField()->setText("lab");
        dialog.userField()->setText("kivo");
        dialog.passwordField()->setText("Kivo-pw-1");
        dialog.tlsField()->setCurrentIndex(int(c.mode));
        EXPECT_EQ(dialog.caFileField()->isEnabled(), c.mode == TlsMode::Verified);
        dialog.caFileField()->setText(c.caFile);
        dialog.testButton()->click();
        EXPECT_TRUE(PumpUntil([&] { return dialog.resultText() == c.result; }, 20000))
            << c.host.toStdString() << " " << c.caFile.toStdString() << ": "
            << dialog.resultText().toStdString();
    }

    // Chosen in the dialog and kept: the sender connects verified, bound to the channel.
    ScriptedFileDialogs files;
    {
        ServerDialog dialog;
        dialog.hostField()->setText("localhost");
        dialog.portField()->setValue(cluster.port());
        dialog.databaseField()->setText("lab");
        dialog.userField()->setText("kivo");
        dialog.passwordField()->setText("Kivo-pw-1");
        dialog.tlsField()->setCurrentIndex(int(TlsMode::Verified));
        files.answer({ca});
        dialog.browseButton()->click();
        EXPECT_EQ(dialog.caFileField()->text(), ca);
        dialog.accept();
        EXPECT_EQ(boxes.count(), 0) << boxes.texts().join(' ').toStdString();
    }
    const server::ServerSettings kept = server::ReadServerSettings();
    EXPECT_EQ(kept.tls, TlsMode::Verified);
    EXPECT_EQ(kept.caFile, ca);
    server::PgConnection db(kept.connectOptions());
    EXPECT_TRUE(db.usesTls());
    EXPECT_EQ(db.exec("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()").text(0, 0), "t");
    qunsetenv("KIVO_ARCHIVE");
}

}  // namespace
