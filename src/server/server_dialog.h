#pragma once

#include <QDialog>
#include <memory>

#include "server/server_settings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace server {
class PgInterrupt;
}

// "实验室服务器": where the lab server is (host, port, database, user, password, whether the
// connection must be encrypted), kept in the lab settings beside the archive. The stored
// password is never shown: an empty password field keeps it. "测试连接" tries the settings on
// a thread of its own and shows the outcome; the dialog stays usable meanwhile.
class ServerDialog : public QDialog {
    Q_OBJECT

  public:
    explicit ServerDialog(QWidget* parent = nullptr);
    ~ServerDialog() override;

    // The settings as the fields give them (the stored password when the field is empty).
    server::ServerSettings settings() const;
    QLineEdit* hostField() const { return m_host; }
    QLineEdit* passwordField() const { return m_password; }
    QPushButton* testButton() const { return m_test; }
    QString resultText() const;

    void accept() override;

  private:
    void testConnection();
    void showResult(const QString& text);

    server::ServerSettings m_stored;
    QLineEdit *m_host, *m_database, *m_user, *m_password;
    QSpinBox* m_port;
    QCheckBox* m_requireTls;
    QPushButton* m_test;
    QLabel* m_result;
    std::shared_ptr<server::PgInterrupt> m_testing;  // the test under way, if any
};
