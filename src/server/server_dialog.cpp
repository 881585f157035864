#include "server/server_dialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <thread>

#include "platform/file_dialog.h"
#include "platform/message_box.h"
#include "server/pg_connection.h"
#include "server/server_schema.h"

using server::PgConnection;
using server::PgError;
using server::PgInterrupt;
using server::TlsMode;

namespace {

// What "测试连接" found, for the operator.
QString TryConnection(const server::ServerSettings& settings, PgInterrupt* interrupt) {
    try {
        PgConnection::Options options = settings.connectOptions(5);
        options.interrupt = interrupt;
        options.statementTimeoutMs = 10000;
        options.readOnly = true;
        PgConnection db(options);
        const int version = server::ServerSchemaVersion(db);
        if (version > server::kServerSchemaVersion) return server::NewerSchemaMessage(version);
        // Verified is the only mode that connects at all without a checked certificate.
        const QString got = !db.usesTls() ? QStringLiteral("未加密")
                            : settings.tls == TlsMode::Verified
                                ? QStringLiteral("已加密，服务器证书已验证")
                                : QStringLiteral("已加密，未验证服务器证书");
        return QStringLiteral("连接成功（%1）").arg(got);
    } catch (const PgError& e) {
        return QStringLiteral("无法连接：%1").arg(e.message);
    }
}

}  // namespace

ServerDialog::ServerDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("实验室服务器"));
    m_stored = server::ReadServerSettings();

    m_host = new QLineEdit(m_stored.host, this);
    m_port = new QSpinBox(this);
    m_port->setRange(1, 65535);
    m_port->setValue(m_stored.port);
    m_database = new QLineEdit(m_stored.database, this);
    m_user = new QLineEdit(m_stored.user, this);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_clearPassword = new QPushButton(QStringLiteral("清除已保存的密码(&L)"), this);
    m_tls = new QComboBox(this);
    for (const TlsMode mode : {TlsMode::Off, TlsMode::Encrypted, TlsMode::Verified})
        m_tls->addItem(server::TlsModeName(mode));
    m_tls->setItemData(0, QStringLiteral("服务器提供加密时仍会加密，但不要求"), Qt::ToolTipRole);
    m_tls->setItemData(1, QStringLiteral("必须加密，不检查服务器证书"), Qt::ToolTipRole);
    m_tls->setItemData(2,
                       QStringLiteral("必须加密，并用证书颁发机构文件检查服务器证书和服务器地址"),
                       Qt::ToolTipRole);
    m_tls->setCurrentIndex(int(m_stored.tls));
    m_caFile = new QLineEdit(m_stored.caFile, this);
    m_caFile->setPlaceholderText(QStringLiteral("签发服务器证书的 CA 证书文件（.crt/.pem）"));
    m_browse = new QPushButton(QStringLiteral("浏览(&B)…"), this);
    m_verifyBase = new QLineEdit(server::ReadVerifyBase(), this);
    m_verifyBase->setPlaceholderText(
        QStringLiteral("实验室网页服务的地址，如 https://lab.example.cn；留空则报告不印二维码"));

    auto* form = new QFormLayout;
    auto row = [&](const QString& text, QWidget* field, QWidget* beside = nullptr) {
        auto* label = new QLabel(text, this);
        label->setBuddy(field);
        if (!beside) {
            form->addRow(label, field);
            return;
        }
        auto* line = new QHBoxLayout;
        line->addWidget(field, 1);
        line->addWidget(beside);
        form->addRow(label, line);
    };
    row(QStringLiteral("服务器地址(&H)："), m_host);
    row(QStringLiteral("端口(&P)："), m_port);
    row(QStringLiteral("数据库(&D)："), m_database);
    row(QStringLiteral("用户名(&U)："), m_user);
    row(QStringLiteral("密码(&W)："), m_password, m_clearPassword);
    row(QStringLiteral("加密方式(&E)："), m_tls);
    row(QStringLiteral("证书颁发机构(&A)："), m_caFile, m_browse);
    row(QStringLiteral("报告核验地址(&V)："), m_verifyBase);

    m_test = new QPushButton(QStringLiteral("测试连接(&T)"), this);
    m_result = new QLabel(this);
    m_result->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("确定(&O)"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel =
        buttons->addButton(QStringLiteral("取消(&C)"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &ServerDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ServerDialog::reject);
    connect(m_test, &QPushButton::clicked, this, &ServerDialog::testConnection);
    connect(m_browse, &QPushButton::clicked, this, &ServerDialog::chooseCaFile);
    connect(m_clearPassword, &QPushButton::clicked, this, [this] {
        m_passwordCleared = true;
        m_password->clear();
        updateFields();
    });
    connect(m_tls, &QComboBox::currentIndexChanged, this, &ServerDialog::updateFields);
    for (QLineEdit* field : {m_host, m_database, m_user})
        connect(field, &QLineEdit::textChanged, this, &ServerDialog::updateFields);
    connect(m_port, &QSpinBox::valueChanged, this, &ServerDialog::updateFields);

    auto* layout = new QVBoxLayout(this);
    if (m_stored.fromEnvironment()) {
        auto* note = new QLabel(
            QStringLiteral("本机已由环境变量 KIVO_SERVER 指定服务器，这里的设置暂不起作用。"),
            this);
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    auto* hint = new QLabel(QStringLiteral("服务器地址留空则不使用实验室服务器。"), this);
    layout->addWidget(hint);
    layout->addLayout(form);
    layout->addWidget(m_test);
    layout->addWidget(m_result);
    layout->addWidget(buttons);
    setTabOrder(m_host, m_port);
    setTabOrder(m_port, m_database);
    setTabOrder(m_database, m_user);
    setTabOrder(m_user, m_password);
    setTabOrder(m_password, m_clearPassword);
    setTabOrder(m_clearPassword, m_tls);
    setTabOrder(m_tls, m_caFile);
    setTabOrder(m_caFile, m_browse);
    setTabOrder(m_browse, m_verifyBase);
    setTabOrder(m_verifyBase, m_test);
    setTabOrder(m_test, ok);
    setTabOrder(ok, cancel);
    updateFields();
}

ServerDialog::~ServerDialog() {
    if (m_testing) m_testing->trigger();
}

server::ServerSettings ServerDialog::settings() const {
    server::ServerSettings s;
    s.host = m_host->text().trimmed();
    s.port = m_port->value();
    s.database = m_database->text().trimmed();
    s.user = m_user->text().trimmed();
    s.tls = TlsMode(m_tls->currentIndex());
    s.caFile = m_caFile->text().trimmed();
    // The kept password goes only to the server and the user it was kept for.
    const bool sameServer = m_stored.passwordKey().admits(s.passwordKey());
    s.password = !m_password->text().isEmpty()      ? m_password->text()
                 : sameServer && !m_passwordCleared ? m_stored.password
                                                    : QString();
    return s;
}

void ServerDialog::updateFields() {
    const server::ServerSettings s = settings();
    const bool kept = !m_stored.password.isEmpty() && !m_passwordCleared &&
                      m_stored.passwordKey().admits(s.passwordKey());
    m_password->setPlaceholderText(kept ? QStringLiteral("已保存；不修改请留空") : QString());
    m_clearPassword->setEnabled(kept);
    const bool verified = s.tls == TlsMode::Verified;
    m_caFile->setEnabled(verified);
    m_browse->setEnabled(verified);
}

QString ServerDialog::problem() const {
    const server::ServerSettings s = settings();
    if (s.host.isEmpty() || s.tls != TlsMode::Verified) return {};
    if (s.caFile.isEmpty())
        return QStringLiteral("“加密并验证服务器证书”需要选择证书颁发机构（CA）的证书文件。");
    const QFileInfo file(s.caFile);
    if (!file.isFile() || !file.isReadable())
        return QStringLiteral("无法读取证书颁发机构文件 %1。").arg(s.caFile);
    return {};
}

void ServerDialog::chooseCaFile() {
    FileDialog::SaveRequest request;
    request.filter = QStringLiteral("证书 (*.crt *.pem *.cer);;所有文件 (*)");
    request.openExisting = true;
    request.proposedName = m_caFile->text();
    const QString chosen = FileDialog::getSaveFileName(this, request);
    if (!chosen.isEmpty()) m_caFile->setText(chosen);
}

QString ServerDialog::resultText() const { return m_result->text(); }

void ServerDialog::showResult(const QString& text) {
    m_result->setText(text);
    m_test->setEnabled(true);
}

void ServerDialog::testConnection() {
    server::ServerSettings s = settings();
    if (s.host.isEmpty()) {
        showResult(QStringLiteral("请填写服务器地址。"));
        return;
    }
    if (const QString why = problem(); !why.isEmpty()) {
        showResult(why);
        return;
    }
    m_test->setEnabled(false);
    m_result->setText(QStringLiteral("正在连接……"));
    // The attempt runs apart; a dialog closed meanwhile ends it and gets no answer.
    if (m_testing) m_testing->trigger();
    m_testing = std::make_shared<PgInterrupt>();
    QPointer<ServerDialog> self(this);
    std::thread([s, interrupt = m_testing, self] {
        const QString text = TryConnection(s, interrupt.get());
        if (interrupt->triggered()) return;
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        QMetaObject::invokeMethod(
            app,
            [self, text, interrupt] {
                if (self && self->m_testing == interrupt) self->showResult(text);
            },
            Qt::QueuedConnection);
    }).detach();
}

void ServerDialog::accept() {
    QString error = problem();
    const QString badAddress = server::VerifyBaseProblem(m_verifyBase->text());
    if (error.isEmpty()) error = badAddress;
    if (error.isEmpty() && server::WriteServerSettings(settings(), &error) &&
        server::WriteVerifyBase(m_verifyBase->text(), &error)) {
        QDialog::accept();
        return;
    }
    MessageBox::show(this, error, MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                     MessageBox::Icon::Exclamation);
    if (error == badAddress) {
        m_verifyBase->setFocus();
        m_verifyBase->selectAll();
    }
}
