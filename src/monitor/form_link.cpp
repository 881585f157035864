#include "monitor/form_link.h"

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

void FormLink::setChannelCell(int row, int column, const QString& text) {
    withForm([&](Testclass& form) { form.setChannelCellOnGui(row, column, text); });
}

QString FormLink::channelCell(int row, int column) {
    QString text;
    withForm([&](Testclass& form) { text = form.channelCellOnGui(row, column); });
    return text;
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
