// The test window on lab screens smaller than the form: it scrolls so that every control
// can be reached, by the keyboard and by the mouse; where the form fits nothing changes.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QWindow>
#include <memory>

#include "accounts/login_dialog.h"
#include "app/background_wnd.h"
#include "app/child_frame.h"
#include "app/main_frame.h"
#include "modal_script.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/program_folder.h"
#include "run/param_dialog.h"
#include "state/test_state.h"
#include "support/scripted_dialogs.h"

namespace {

void Settle() {
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

// Takes every mouse press and release of the watched buttons before the form sees them,
// counting them: a click is proved to arrive without starting what the button does.
class ClickCatcher : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress) {
            pressed << watched;
            return true;
        }
        return event->type() == QEvent::MouseButtonRelease;
    }
    QList<QObject*> pressed;
};

class TestWindowScroll : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ProgramFolder::setForTests(m_dir.path());
        ResetTestStateForTests();
        for (int n = 1; n <= 16; ++n)
            qputenv(QByteArray("KIVO_COM") + QByteArray::number(n), "/nonexistent/kivo-test-port");
    }
    void TearDown() override {
        m_main.reset();
        Settle();
        ProgramFolder::setForTests(QString());
        for (int n = 1; n <= 16; ++n) qunsetenv(QByteArray("KIVO_COM") + QByteArray::number(n));
    }

    // A main window of the screen's size with the test window opened by "新建实验".
    void openOnScreen(QSize screen) {
        m_main = std::make_unique<CMainFrame>();
        m_main->setAttribute(Qt::WA_DeleteOnClose, false);
        m_main->resize(screen);
        m_main->show();
        m_main->activateWindow();
        Settle();
        ModalScript script;
        script
            .then<CLoginDlg>([](CLoginDlg* d) {
                static_cast<QLineEdit*>(d->item(CLoginDlg::IdPassword))->setText("579");
                static_cast<QPushButton*>(d->item(1))->click();
            })
            .then<CParamDlg>([](CParamDlg* d) { static_cast<QPushButton*>(d->item(1))->click(); });
        m_main->OnCommand(CMainFrame::ID_NEW_TEST);
        // Keyboard focus lives in the active window, as it does on a desktop.
        m_main->activateWindow();
        Settle();
        ASSERT_NE(form(), nullptr);
        ASSERT_TRUE(m_main->isActiveWindow());
    }

    Testclass* form() const { return m_main ? m_main->testForm() : nullptr; }
    QScrollArea* area() const {
        for (QWidget* w = form(); w != nullptr; w = w->parentWidget())
            if (auto* a = qobject_cast<QScrollArea*>(w)) return a;
        return nullptr;
    }
    // The part of `w` that the window shows, in the viewport's coordinates.
    QRect shownRect(QWidget* w) const {
        QWidget* viewport = area()->viewport();
        return QRect(w->mapTo(viewport, QPoint(0, 0)), w->size()).intersected(viewport->rect());
    }
    bool wholeShown(QWidget* w) const { return shownRect(w).size() == w->size(); }

    // A mouse press and release at the middle of `w`, sent to the main window as the window
    // system would, so that Qt itself finds the widget under the pointer.
    void clickThroughWindow(QWidget* w) {
        const QPoint at = w->mapTo(m_main.get(), w->rect().center());
        const QPoint global = m_main->mapToGlobal(at);
        QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(m_main->windowHandle(), &press);
        QApplication::sendEvent(m_main->windowHandle(), &release);
    }

    QTemporaryDir m_dir;
    ScriptedMessageBoxes m_boxes;
    ScriptedFileDialogs m_dialogs;
    std::unique_ptr<CMainFrame> m_main;
};

const int kButtons[] = {FormId::InitButton, FormId::StartButton, FormId::SaveText,
                        FormId::SaveChart,  FormId::SaveExcel,   FormId::CloseTest};

TEST_F(TestWindowScroll, OnSmallScreensTabAndTheMouseReachEveryButton) {
    for (const QSize screen : {QSize(1100, 620), QSize(1280, 720)}) {
        SCOPED_TRACE(
            QStringLiteral("%1x%2").arg(screen.width()).arg(screen.height()).toStdString());
        openOnScreen(screen);
        ASSERT_NE(area(), nullptr);
        m_boxes.clear();
        // The form keeps its size; where the window is lower than the form (1100x620; at
        // 1280x720 the form just fits) it scrolls down, and "关    闭" starts out of view.
        const bool lower = area()->viewport()->height() < form()->minimumHeight();
        if (screen.height() == 620) {
            EXPECT_TRUE(lower);
        }
        EXPECT_EQ(form()->size(), form()->minimumSize().expandedTo(area()->viewport()->size()));
        EXPECT_EQ(area()->verticalScrollBar()->isVisible(), lower);
        EXPECT_EQ(area()->verticalScrollBar()->maximum() > 0, lower);
        EXPECT_EQ(wholeShown(form()->item(FormId::CloseTest)), !lower);

        // Tab from the channel table round the whole form (the lists pass Tab on): every
        // control that gets focus is scrolled into view as it gets it, and every enabled
        // button is among them, until focus comes round to the channel table again.
        form()->item(FormId::ChannelTable)->setFocus(Qt::TabFocusReason);
        Settle();
        QSet<QWidget*> focused;
        for (int i = 0; i < 30; ++i) {
            QWidget* now = QApplication::focusWidget();
            ASSERT_NE(now, nullptr);
            ASSERT_TRUE(form()->isAncestorOf(now)) << now->metaObject()->className();
            if (i > 0 && now == form()->item(FormId::ChannelTable)) break;
            focused << now;
            EXPECT_TRUE(wholeShown(now))
                << now->metaObject()->className() << " " << now->accessibleName().toStdString();
            QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
            QApplication::sendEvent(now, &tab);
            Settle();
        }
        EXPECT_EQ(QApplication::focusWidget(), form()->item(FormId::ChannelTable));
        EXPECT_TRUE(focused.contains(form()->item(FormId::StartTime)));
        EXPECT_TRUE(focused.contains(form()->item(FormId::ChannelTable)));
        for (int id : kButtons) {
            QWidget* button = form()->item(id);
            if (button->isEnabled()) {
                EXPECT_TRUE(focused.contains(button)) << id;
            }
        }

        // Scrolled to each button (by focus, or by the scroll bars for a disabled one), the
        // button is whole on the screen and a click there reaches it.
        ClickCatcher catcher;
        for (int id : kButtons) {
            auto* button = static_cast<QPushButton*>(form()->item(id));
            area()->verticalScrollBar()->setValue(0);
            area()->horizontalScrollBar()->setValue(0);
            Settle();
            if (button->isEnabled()) {
                button->setFocus(Qt::OtherFocusReason);
            } else {
                area()->ensureWidgetVisible(button, 0, 0);
            }
            Settle();
            ASSERT_TRUE(wholeShown(button)) << id;
            EXPECT_EQ(m_main->childAt(button->mapTo(m_main.get(), button->rect().center())), button)
                << id;
            button->installEventFilter(&catcher);
            catcher.pressed.clear();
            clickThroughWindow(button);
            button->removeEventFilter(&catcher);
            EXPECT_EQ(catcher.pressed, QList<QObject*>{button}) << id;
        }
        EXPECT_EQ(m_boxes.count(), 0);  // no button did its work
        m_main.reset();
        Settle();
    }
}

TEST_F(TestWindowScroll, ANarrowWindowScrollsSidewaysToo) {
    openOnScreen(QSize(800, 560));
    ASSERT_NE(area(), nullptr);
    EXPECT_TRUE(area()->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(area()->verticalScrollBar()->isVisible());
    EXPECT_EQ(form()->size(), form()->minimumSize());
    QWidget* excel = form()->item(FormId::SaveExcel);  // at the form's right edge
    EXPECT_FALSE(wholeShown(excel));
    excel->setFocus(Qt::TabFocusReason);
    Settle();
    EXPECT_TRUE(wholeShown(excel));
    EXPECT_GT(area()->horizontalScrollBar()->value(), 0);
    // Back to the first control: the window scrolls back up and left to it.
    QWidget* table = form()->item(FormId::ChannelTable);
    table->setFocus(Qt::BacktabFocusReason);
    Settle();
    EXPECT_TRUE(wholeShown(table));
    EXPECT_LT(area()->horizontalScrollBar()->value(), table->x());
    EXPECT_LT(area()->verticalScrollBar()->value(), table->y());
}

TEST_F(TestWindowScroll, WhereTheFormFitsItLooksAsItDidWithoutScrolling) {
    openOnScreen(QSize(1600, 1000));
    ASSERT_NE(area(), nullptr);
    QPointer<QMdiSubWindow> frame = m_main->client()->activeSubWindow();
    ASSERT_NE(frame, nullptr);
    EXPECT_FALSE(area()->verticalScrollBar()->isVisible());
    EXPECT_FALSE(area()->horizontalScrollBar()->isVisible());

    Testclass* shown = form();
    struct Look {
        QPoint origin;
        QSize size;
        QList<QRect> controls;
        QImage pixels;
    };
    auto look = [&] {
        // The same focus for both pictures: a focused list draws its selection brighter.
        shown->item(FormId::ChannelTable)->setFocus(Qt::OtherFocusReason);
        Settle();
        Look l{shown->mapTo(frame, QPoint(0, 0)), shown->size(), {}, {}};
        for (QWidget* w : shown->findChildren<QWidget*>())
            l.controls << (w->isVisible() ? w->geometry() : QRect());
        l.pixels = frame->grab(QRect(l.origin, l.size)).toImage();
        return l;
    };
    const Look scrolling = look();

    // The same form put straight into the window, as the test window used to hold it.
    std::unique_ptr<QWidget> scrollArea(frame->widget());
    frame->setWidget(area()->takeWidget());
    Settle();
    ASSERT_EQ(frame->widget(), shown);
    const Look plain = look();

    EXPECT_EQ(scrolling.origin, plain.origin);
    EXPECT_EQ(scrolling.size, plain.size);
    EXPECT_EQ(scrolling.controls, plain.controls);
    // Every pixel of the window's inside, the trend chart's included.
    EXPECT_EQ(scrolling.pixels, plain.pixels);
}

}  // namespace
