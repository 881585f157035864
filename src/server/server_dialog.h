#pragma once

#include <QDialog>
#include <memory>

#include "server/server_settings.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace server {
class PgInterrupt;
}

// "实验室服务器": where the lab server is (host, port, database, user, password, how the
// connection is protected), kept in the lab settings beside the archive, the password for this
// account alone. The stored password is never shown: an empty password field keeps it as long
// as the server and the user stay the same; a changed host, port, database or user gets no
// password but one typed anew. "清除已保存的密码" forgets it. 加密并验证服务器证书 needs the CA
// file that signed the server's certificate. "测试连接" tries the settings on a thread of its
// own and says what it got (encrypted or not, the certificate checked or not); the dialog stays
// usable meanwhile. "报告核验地址" is the lab's web service, whose verify page the QR code on
// every test report opens; it must be an http(s) address, or left empty for no QR code.
class ServerDialog : public QDialog {
    Q_OBJECT

  public:
    explicit ServerDialog(QWidget* parent = nullptr);
    ~ServerDialog() override;

    // The settings as the fields give them (the stored password when the field is empty and
    // the server and the user are the stored ones).
    server::ServerSettings settings() const;
    QLineEdit* hostField() const { return m_host; }
    QSpinBox* portField() const { return m_port; }
    QLineEdit* databaseField() const { return m_database; }
    QLineEdit* userField() const { return m_user; }
    QLineEdit* passwordField() const { return m_password; }
    QComboBox* tlsField() const { return m_tls; }
    QLineEdit* caFileField() const { return m_caFile; }
    QLineEdit* verifyBaseField() const { return m_verifyBase; }
    QPushButton* browseButton() const { return m_browse; }
    QPushButton* clearPasswordButton() const { return m_clearPassword; }
    QPushButton* testButton() const { return m_test; }
    QString resultText() const;

    void accept() override;

  private:
    void testConnection();
    void showResult(const QString& text);
    void chooseCaFile();
    void updateFields();
    // A reason the fields cannot be used as they are, for the operator; empty when they can.
    QString problem() const;

    server::ServerSettings m_stored;
    bool m_passwordCleared = false;
    QLineEdit *m_host, *m_database, *m_user, *m_password, *m_caFile, *m_verifyBase;
    QSpinBox* m_port;
    QComboBox* m_tls;
    QPushButton *m_browse, *m_clearPassword, *m_test;
    QLabel* m_result;
    std::shared_ptr<server::PgInterrupt> m_testing;  // the test under way, if any
};
