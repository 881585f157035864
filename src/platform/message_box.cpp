#include "platform/message_box.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/gui_gate.h"

namespace MessageBox {
namespace {

std::mutex g_responderMutex;
Responder g_responder;

Result showOnGui(QWidget* owner, const Request& request) {
    Responder responder;
    {
        std::lock_guard lock(g_responderMutex);
        responder = g_responder;
    }
    if (responder) return responder(owner, request);

    // On the heap: when the owner goes away while the box is open, it takes the box with
    // it, and the answer is Cancel.
    QPointer<QMessageBox> box = new QMessageBox(owner);
    box->setWindowTitle(request.caption);
    // Texts carry names from files and archives: they are shown as written, never as markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(request.text);
    switch (request.icon) {
        case Icon::None:
            box->setIcon(QMessageBox::NoIcon);
            break;
        case Icon::Information:
            box->setIcon(QMessageBox::Information);
            break;
        case Icon::Question:
            box->setIcon(QMessageBox::Question);
            break;
        case Icon::Exclamation:
            box->setIcon(QMessageBox::Warning);
            break;
        case Icon::Critical:
            box->setIcon(QMessageBox::Critical);
            break;
    }
    if (request.buttons == Buttons::Choices) {
        // One role for all, so the buttons stand in the order given whatever the style.
        std::vector<QPushButton*> buttons;
        for (const QString& choice : request.choices)
            buttons.push_back(box->addButton(choice, QMessageBox::ActionRole));
        if (request.safeChoice >= 0 && request.safeChoice < int(buttons.size())) {
            box->setDefaultButton(buttons[request.safeChoice]);
            box->setEscapeButton(buttons[request.safeChoice]);
        }
        box->exec();
        if (!box) return Cancel;
        const auto chosen = std::find(buttons.begin(), buttons.end(), box->clickedButton());
        const Result result = chosen == buttons.end()
                                  ? Cancel
                                  : static_cast<Result>(FirstChoice + (chosen - buttons.begin()));
        delete box.data();
        return result;
    }
    const bool yesNo = request.buttons == Buttons::YesNo;
    QPushButton* ok =
        box->addButton(yesNo ? QStringLiteral("是") : QStringLiteral("确定"), QMessageBox::AcceptRole);
    ok->setDefault(true);
    if (request.buttons == Buttons::OkCancel) {
        box->setEscapeButton(box->addButton(QStringLiteral("取消"), QMessageBox::RejectRole));
    } else if (yesNo) {
        box->setEscapeButton(box->addButton(QStringLiteral("否"), QMessageBox::RejectRole));
    } else {
        box->setEscapeButton(ok);
    }
    box->exec();
    if (!box) return Cancel;
    const bool accepted = box->clickedButton() == ok;
    const Result result = yesNo ? (accepted ? Yes : No) : (accepted ? Ok : Cancel);
    delete box.data();
    return result;
}

Result ask(QWidget* owner, const Request& request) {
    Result result = Cancel;
    QPointer<QWidget> guardedOwner(owner);
    if (GuiGate::onGuiThread()) return showOnGui(owner, request);
    GuiGate::instance().run([&] { result = showOnGui(guardedOwner.data(), request); });
    return result;
}

}  // namespace

Result show(QWidget* owner, const QString& text, const QString& caption, Buttons buttons,
            Icon icon) {
    return ask(owner, Request{text, caption, buttons, icon, {}, 0});
}

int choose(QWidget* owner, const QString& text, const QStringList& choices, int safeChoice,
           const QString& caption, Icon icon) {
    const int answer =
        ask(owner, Request{text, caption, Buttons::Choices, icon, choices, safeChoice});
    const int index = answer - FirstChoice;
    return index >= 0 && index < choices.size() ? index : safeChoice;
}

void setResponder(Responder responder) {
    std::lock_guard lock(g_responderMutex);
    g_responder = std::move(responder);
}

}  // namespace MessageBox
