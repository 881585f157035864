#include <QScrollArea>

#include "main_window_shot.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "shots.h"

QImage RenderSmallScreen() {
    // Scrolled down as far as "关    闭", which this screen cannot show with the top.
    return RenderMainWindowOfSize(QSize(1100, 620), [](Testclass& form) {
        for (QWidget* w = form.parentWidget(); w != nullptr; w = w->parentWidget()) {
            if (auto* area = qobject_cast<QScrollArea*>(w)) {
                area->ensureWidgetVisible(form.item(FormId::CloseTest), 20, 30);
                return;
            }
        }
    });
}

QImage RenderLaptopScreen() { return RenderMainWindowOfSize(QSize(1280, 720), {}); }
