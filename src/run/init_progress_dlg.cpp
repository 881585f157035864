#include "run/init_progress_dlg.h"

#include <QKeyEvent>
#include <QProgressBar>

#include "platform/song_font.h"
#include "platform/time_scale.h"

namespace {

// Dialog units of the box's template in pixels.
int du(int units) { return units * 3 / 2; }

}  // namespace

CInitProgressDlg::CInitProgressDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(QStringLiteral("设备初始化"));
    setFont(songFont(12));
    setFixedSize(du(273), du(25));

    m_progress = new QProgressBar(this);
    m_progress->setGeometry(du(7), du(7), du(259), du(11));
    m_progress->setRange(0, kSteps);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(QStringLiteral("初始化进度"));

    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CInitProgressDlg::onTick);
}

void CInitProgressDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_nStep == 0 && !m_timer.isActive()) m_timer.start(TimeScale::wallMs(kTickMs));
}

void CInitProgressDlg::onTick() {
    ++m_nStep;
    m_progress->setValue(static_cast<int>(m_nStep < kSteps ? m_nStep : kSteps));
    if (m_nStep >= kSteps) {
        m_timer.stop();
        reject();  // a close request ends the box as a cancel
    }
}

void CInitProgressDlg::keyPressEvent(QKeyEvent* event) {
    // With no button in the box, Enter ends it as OK, as a dialog's default key does.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        m_timer.stop();
        accept();
        return;
    }
    if (event->key() == Qt::Key_Escape) m_timer.stop();
    QDialog::keyPressEvent(event);
}
