#include "server/server_dialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <thread>

#include "platform/message_box.h"
#include "server/pg_connection.h"
#include "server/server_schema.h"

using server::PgConnection;
using server::PgError;
using server::PgInterrupt;

namespace {

// What "测试连接" found, for the operator.
QString TryConnection(const server::ServerSettings& settings, PgInterrupt* interrupt) {
    try {
        PgConnection::Options options = settings.connectOptions(5);
        options.interrupt = interrupt;
        options.statementTimeoutMs = 10000;
        PgConnection db(options);
        const int version = server::ServerSchemaVersion(db);
        if (version > server::kServerSchemaVersion) return server::NewerSchemaMessage(version);
        return QStringLiteral("连接成功（%1）")
            .arg(db.usesTls() ? QStringLiteral("加密连接") : QStringLiteral("未加密"));
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
    if (!m_stored.password.isEmpty())
        m_password->setPlaceholderText(QStringLiteral("已保存；不修改请留空"));
    m_requireTls = new QCheckBox(QStringLiteral("必须使用加密连接(&R)"), this);
    m_requireTls->setChecked(m_stored.requireTls);

    auto* form = new QFormLayout;
    auto row = [&](const QString& text, QWidget* field) {
        auto* label = new QLabel(text, this);
        label->setBuddy(field);
        form->addRow(label, field);
    };
    row(QStringLiteral("服务器地址(&H)："), m_host);
    row(QStringLiteral("端口(&P)："), m_port);
    row(QStringLiteral("数据库(&D)："), m_database);
    row(QStringLiteral("用户名(&U)："), m_user);
    row(QStringLiteral("密码(&W)："), m_password);
    form->addRow(QString(), m_requireTls);

    m_test = new QPushButton(QStringLiteral("测试连接(&T)"), this);
    m_result = new QLabel(this);
    m_result->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("确定(&O)"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消(&C)"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &ServerDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ServerDialog::reject);
    connect(m_test, &QPushButton::clicked, this, &ServerDialog::testConnection);

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
    setTabOrder(m_password, m_requireTls);
    setTabOrder(m_requireTls, m_test);
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
    s.password = m_password->text().isEmpty() ? m_stored.password : m_password->text();
    s.requireTls = m_requireTls->isChecked();
    return s;
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
    QString error;
    if (!server::WriteServerSettings(settings(), &error)) {
        MessageBox::show(this, error, MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
        return;
    }
    QDialog::accept();
}
