#pragma once

#include <QString>

#include "platform/id_dialog.h"

class QLineEdit;

// "参数设置": the parameters of a new test. It always opens with the same defaults; OK
// checks the fields and makes them the shared test parameters.
class CParamDlg : public IdDialog {
    Q_OBJECT

  public:
    static constexpr int IdPort = 1000;
    static constexpr int IdVoltage = 1001;
    static constexpr int IdRecordInterval = 1002;
    static constexpr int IdTester = 1003;
    static constexpr int IdOrganisation = 1004;
    static constexpr int IdTestMinutes = 1005;
    static constexpr int IdDiameter = 1006;

    explicit CParamDlg(QWidget* parent = nullptr);

    // Reads and checks the fields; on success copies them to the test parameters and
    // closes with OK. Otherwise shows why and stays open, the parameters untouched.
    void accept() override;

    // The dialog's values as last read from its fields.
    int m_nComPort = 0;
    QString m_strVoltage = QStringLiteral("60.0");
    int m_nRecordInterval = 5;
    QString m_strTester;
    QString m_strOrganisation;
    int m_nTestMinutes = 360;
    int m_nDiameter = 100;

  private:
    bool readFields();
    void fail(QLineEdit* field, const QString& text);
    QLineEdit* edit(int id) const;
};

// The question the dialog asks about a diameter outside the specimens' plausible range.
QString DiameterWarning(int diameterMm);
