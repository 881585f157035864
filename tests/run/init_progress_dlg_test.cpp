#include "test/init_progress_dlg.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QProgressBar>
#include <QTimer>

#include "platform/time_scale.h"

namespace {

class InitProgress : public ::testing::Test {
  protected:
    void TearDown() override { TimeScale::setFactor(1); }
};

TEST_F(InitProgress, LooksAsTheTemplateSays) {
    CInitProgressDlg box;
    EXPECT_EQ(box.windowTitle(), "设备初始化");
    EXPECT_EQ(box.size(), QSize(409, 37));  // 273 x 25 dialog units
    EXPECT_EQ(box.progressBar()->geometry(), QRect(10, 10, 388, 16));
    EXPECT_EQ(box.progressBar()->minimum(), 0);
    EXPECT_EQ(box.progressBar()->maximum(), 100);
    EXPECT_EQ(box.progressBar()->value(), 0);
    const Qt::WindowFlags flags = box.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowSystemMenuHint));
}

TEST_F(InitProgress, FillsInOneHundredEqualStepsThenClosesItself) {
    CInitProgressDlg box;
    box.show();
    for (int i = 1; i < 100; ++i) {
        box.onTick();
        ASSERT_EQ(box.progressBar()->value(), i);
        ASSERT_TRUE(box.isVisible());
    }
    box.onTick();
    EXPECT_EQ(box.progressBar()->value(), 100);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Rejected);
}

TEST_F(InitProgress, RunsOnItsOwnTimer) {
    TimeScale::setFactor(10);
    CInitProgressDlg box;
    EXPECT_EQ(box.exec(), QDialog::Rejected);
    EXPECT_EQ(box.steps(), 100u);
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
