#include "monitor/form_link.h"

#include <QLineEdit>
#include <QTableWidget>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/gui_gate.h"

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

constexpr int kFieldKey = -1;

}  // namespace

FormLink::FormLink(Testclass* form)
    : m_saveChart([](Testclass& f) { f.OnSaveChart(); }),
      m_saveExcel([](Testclass& f) { f.OnSaveExcel(); }),
      m_form(form) {}

bool FormLink::withForm(const std::function<void(Testclass&)>& fn) {
    flushTexts();
    bool reached = false;
    GuiGate::instance().run([&] {
        if (Testclass* form = m_form.data()) {
            reached = true;
            fn(*form);
        }
    });
    return reached;
}

void FormLink::postToForm(std::function<void(Testclass&)> fn) {
    flushTexts();
    GuiGate::instance().post([self = shared_from_this(), fn = std::move(fn)] {
        if (Testclass* form = self->m_form.data()) fn(*form);
    });
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

void FormLink::postText(TextKey key, const QString& text) {
    std::lock_guard lock(m_textsMutex);
    auto it = m_texts.find(key);
    if (it != m_texts.end() && it->second == text) return;
    m_texts[key] = text;
    m_unsent[key] = text;
}

void FormLink::flushTexts() {
    std::map<TextKey, QString> texts;
    std::optional<QString> temperature;
    {
        std::lock_guard lock(m_textsMutex);
        texts.swap(m_unsent);
        temperature.swap(m_temperatureReading);
    }
    if (texts.empty() && !temperature) return;
    GuiGate::instance().post([self = shared_from_this(), texts = std::move(texts),
                              temperature = std::move(temperature)] {
        Testclass* form = self->m_form.data();
        if (form == nullptr) return;
        for (const auto& [key, text] : texts) self->applyText(*form, key, text);
        // After every text of the command is shown: the watcher may pause the test and
        // open a box. A copy runs, so that a new start may replace the watcher meanwhile.
        if (temperature && self->m_temperatureShown) {
            const auto watcher = self->m_temperatureShown;
            watcher(*form, *temperature);
        }
    });
}

void FormLink::applyText(Testclass& form, TextKey key, const QString& text) {
    watch(form);
    m_applying = true;
    if (key.second == kFieldKey) {
        // An unchanged text is not set again: the field would repaint all the same.
        if (form.itemTextOnGui(key.first) != text) form.setItemTextOnGui(key.first, text);
    } else {
        form.setChannelCellOnGui(key.first, key.second, text);
    }
    m_applying = false;
}

void FormLink::watch(Testclass& form) {
    if (m_watching) return;
    m_watching = true;
    // Whatever else writes these texts (the run control, the form itself) makes the link's
    // knowledge of them void, so its next text goes over again.
    std::weak_ptr<FormLink> weak = weak_from_this();
    auto forget = [weak](TextKey key) {
        std::shared_ptr<FormLink> self = weak.lock();
        if (!self || self->m_applying) return;
        std::lock_guard lock(self->m_textsMutex);
        self->m_texts.erase(key);
    };
    for (int id :
         {FormId::CommStatus, FormId::RemainingMinutes, FormId::Voltage, FormId::Temperature}) {
        if (auto* edit = qobject_cast<QLineEdit*>(form.item(id)))
            QObject::connect(edit, &QLineEdit::textChanged, edit, [forget, id] {
                forget({id, kFieldKey});
            });
    }
    QObject::connect(form.m_listChannels, &QTableWidget::itemChanged, form.m_listChannels,
                     [forget](QTableWidgetItem* item) {
                         forget({item->row(), item->column()});
                     });
}

void FormLink::setField(Field field, const QString& text) {
    if (field == Field::Temperature) {
        // Every reading is watched, whether or not its text changed.
        std::lock_guard lock(m_textsMutex);
        m_temperatureReading = text;
    }
    postText({fieldId(field), kFieldKey}, text);
}

void FormLink::setButtonEnabled(Button button, bool enabled) {
    const int id = button == Button::Init ? FormId::InitButton : FormId::StartButton;
    postToForm([id, enabled](Testclass& form) { form.setItemEnabledOnGui(id, enabled); });
}

void FormLink::setReading(int row, Reading reading, const QString& text) {
    const int column = reading == Reading::Current ? ChannelColumn::Current : ChannelColumn::Charge;
    postText({row, column}, text);
}

void FormLink::channelPollDone() {
    postToForm([](Testclass& form) { form.OnChannelPollDone(); });
}

void FormLink::commandEnded() { flushTexts(); }

ResumeDecision FormLink::resumeChecked(int32_t minutes) {
    ResumeDecision decision = ResumeDecision::Refuse;
    withForm([&](Testclass& form) {
        decision = m_resumeChecked ? m_resumeChecked(form, minutes) : ResumeDecision::Resume;
    });
    return decision;
}

MessageBox::Result FormLink::message(const QString& text, const QString& caption,
                                     MessageBox::Buttons buttons, MessageBox::Icon icon) {
    MessageBox::Result result = MessageBox::Cancel;
    withForm([&](Testclass& form) {
        result = MessageBox::show(&form, text, caption, buttons, icon);
    });
    return result;
}
