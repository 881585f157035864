#include "run/init_progress_dlg.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QObject>
#include <QProgressBar>
#include <QTimer>

#include "platform/time_scale.h"

namespace {

class InitProgress : public ::testing::Test {
  protected:
    void TearDown() override { TimeScale::setFactor(1); }
};

TEST_F(InitProgress, FillsInOneHundredEqualStepsOnItsTimerThenClosesItself) {
    TimeScale::setFactor(10);
    CInitProgressDlg box;
    EXPECT_FALSE(box.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(box.windowFlags().testFlag(Qt::WindowSystemMenuHint));
    QList<int> values;
    QObject::connect(box.progressBar(), &QProgressBar::valueChanged, [&](int v) { values << v; });
    EXPECT_EQ(box.exec(), QDialog::Rejected);
    EXPECT_EQ(box.steps(), 100u);
    ASSERT_EQ(values.size(), 100);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(values[i], i + 1);
}

TEST_F(InitProgress, EscapeAndEnterEndItAtOnce) {
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        CInitProgressDlg box;
        QTimer::singleShot(0, &box, [&box, key] {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QCoreApplication::sendEvent(&box, &press);
        });
        box.exec();
        EXPECT_LT(box.steps(), 100u) << key;
        EXPECT_FALSE(box.isVisible());
    }
}

}  // namespace
