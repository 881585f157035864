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
    gatherLocked(key, text);
}

void FormLink::gatherLocked(TextKey key, const QString& text) {
    auto it = m_texts.find(key);
    if (it != m_texts.end() && it->second == text) return;
    m_texts[key] = text;
    m_gathered.texts[key] = text;
}

void FormLink::flushTexts() {
    // Kept here so that a closed gate, which drops the queued work at once, never lets the
    // last owner go while the lock is held.
    const std::shared_ptr<FormLink> self = shared_from_this();
    std::lock_guard lock(m_textsMutex);
    queueGatheredLocked();
}

bool FormLink::queueGatheredLocked() {
    if (m_gathered.empty()) return false;
    auto batch = std::make_shared<Batch>(std::move(m_gathered));
    m_gathered = Batch{};
    // Queued under the lock that gathers: whatever is gathered or queued after this, from
    // any thread, reaches the GUI thread after this batch.
    if (!GuiGate::instance().queue(
            [self = shared_from_this(), batch] { self->showBatch(batch); }))
        return false;
    m_queued.push_back(std::move(batch));
    return true;
}

void FormLink::showBatch(const std::shared_ptr<Batch>& batch) {
    Batch shown;
    {
        std::lock_guard lock(m_textsMutex);
        shown = std::move(*batch);
        *batch = Batch{};
        std::erase(m_queued, batch);
    }
    Testclass* form = m_form.data();
    if (form == nullptr) return;
    for (const auto& [key, text] : shown.texts) applyText(*form, key, text);
    // After every text of the batch is shown: the watcher may pause the test and open a
    // box. A copy runs, so that a new start may replace the watcher meanwhile.
    if (shown.temperature && m_temperatureShown) {
        const auto watcher = m_temperatureShown;
        watcher(*form, *shown.temperature);
    }
}

void FormLink::whenShown(std::function<void(Testclass&)> fn) {
    const std::shared_ptr<FormLink> self = shared_from_this();
    {
        std::lock_guard lock(m_textsMutex);
        queueGatheredLocked();
        if (!m_queued.empty()) {
            // After the queued batches; nothing when the gate is closed (the form is going).
            GuiGate::instance().queue([self, fn = std::move(fn)] {
                if (Testclass* form = self->m_form.data()) fn(*form);
            });
            return;
        }
    }
    if (Testclass* form = m_form.data()) fn(*form);
}

void FormLink::written(TextKey key) {
    if (m_applying) return;  // the link's own text
    std::lock_guard lock(m_textsMutex);
    m_texts.erase(key);
    m_gathered.texts.erase(key);
    for (const std::shared_ptr<Batch>& batch : m_queued) batch->texts.erase(key);
}

void FormLink::writtenOnGui(int id) { written({id, kFieldKey}); }

void FormLink::writtenOnGui(int row, int column) { written({row, column}); }

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
        // Every reading is watched, whether or not its text changed; it goes to the watch
        // with the batch that shows it.
        std::lock_guard lock(m_textsMutex);
        m_gathered.temperature = text;
        gatherLocked({fieldId(field), kFieldKey}, text);
        return;
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

void FormLink::repeating() { flushTexts(); }

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
