#pragma once

#include <QDialog>
#include <QTimer>
#include <cstdint>

class QProgressBar;

// "设备初始化": the fixed wait shown after the initialisation command has gone to the
// instrument. Its bar fills in 100 ticks of a 10 ms timer, then the box closes itself; it
// does not watch the instrument. Escape or Enter ends it at once. It has no buttons and no
// close box.
class CInitProgressDlg : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kSteps = 100;
    static constexpr int kTickMs = 10;

    explicit CInitProgressDlg(QWidget* parent = nullptr);

    QProgressBar* progressBar() const { return m_progress; }
    uint32_t steps() const { return m_nStep; }
    // One tick of the timer (also called by the timer itself).
    void onTick();

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QProgressBar* m_progress = nullptr;  // control 1091
    uint32_t m_nStep = 0;
    QTimer m_timer;
};
