#include "monitor/form_link.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/gui_gate.h"

FormLink::FormLink(Testclass* form)
    : m_saveChart([](Testclass& f) { f.OnSaveChart(); }),
      m_saveExcel([](Testclass& f) { f.OnSaveExcel(); }),
      m_form(form) {}

bool FormLink::withForm(const std::function<void(Testclass&)>& fn) {
    bool reached = false;
    GuiGate::instance().run([&] {
        if (Testclass* form = m_form.data()) {
            reached = true;
            fn(*form);
        }
    });
    return reached;
}

void FormLink::detach() { m_form = nullptr; }

void FormLink::setItemText(int id, const QString& text) {
    withForm([&](Testclass& form) { form.setItemTextOnGui(id, text); });
}

QString FormLink::itemText(int id) {
    QString text;
    withForm([&](Testclass& form) { text = form.itemTextOnGui(id); });
    return text;
}

void FormLink::setItemEnabled(int id, bool enabled) {
    withForm([&](Testclass& form) { form.setItemEnabledOnGui(id, enabled); });
}

namespace {

int fieldId(LinkView::Field field) {
    switch (field) {
        case LinkView::Field::CommStatus:
            return FormId::CommStatus;
        case LinkView::Field::RemainingMinutes:
            return FormId::RemainingMinutes;
        case LinkView::Field::Voltage:
            return FormId::Voltage;
        case LinkView::Field::Temperature:
            return FormId::Temperature;
    }
    return 0;
}

}  // namespace

void FormLink::setField(Field field, const QString& text) { setItemText(fieldId(field), text); }

void FormLink::setButtonEnabled(Button button, bool enabled) {
    setItemEnabled(button == Button::Init ? FormId::InitButton : FormId::StartButton, enabled);
}

void FormLink::setReading(int row, Reading reading, const QString& text) {
    const int column = reading == Reading::Current ? ChannelColumn::Current : ChannelColumn::Charge;
    withForm([&](Testclass& form) { form.setChannelCellOnGui(row, column, text); });
}

MessageBox::Result FormLink::message(const QString& text, const QString& caption,
                                     MessageBox::Buttons buttons, MessageBox::Icon icon) {
    MessageBox::Result result = MessageBox::Cancel;
    GuiGate::instance().run([&] {
        if (Testclass* form = m_form.data())
            result = MessageBox::show(form, text, caption, buttons, icon);
    });
    return result;
}

void FormLink::channelPollDone() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(
        app,
        [self = weak_from_this()] {
            if (std::shared_ptr<FormLink> link = self.lock()) {
                if (Testclass* form = link->m_form.data()) form->OnChannelPollDone();
            }
        },
        Qt::QueuedConnection);
}
