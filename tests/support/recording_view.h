#pragma once

#include <QString>
#include <atomic>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "link/link_view.h"
#include "monitor/form_ids.h"

// A test view that keeps fields and the six-row channel table in memory, by the form's control
// ids and columns, and records the calls the link makes; safe to call from any thread.
class RecordingView : public LinkView {
public:
    void setField(Field field, const QString& text) override {
        setItemText(fieldId(field), text);
    }
    void setButtonEnabled(Button button, bool enabled) override {
        setItemEnabled(button == Button::Init ? FormId::InitButton : FormId::StartButton, enabled);
    }
    void setReading(int row, Reading reading, const QString& text) override {
        setChannelCell(row, reading == Reading::Current ? 4 : 5, text);
    }

    static int fieldId(Field field) {
        switch (field) {
            case Field::CommStatus:
                return FormId::CommStatus;
            case Field::RemainingMinutes:
                return FormId::RemainingMinutes;
            case Field::Voltage:
                return FormId::Voltage;
            case Field::Temperature:
                return FormId::Temperature;
        }
        return 0;
    }

    struct Finish {
        bool sendStop;
        QString prompt;
    };

    void setItemText(int id, const QString& text) {
        std::lock_guard lock(m_mutex);
        m_items[id] = text;
        m_itemWrites.emplace_back(id, text);
    }
    QString itemText(int id) {
        std::lock_guard lock(m_mutex);
        auto it = m_items.find(id);
        return it == m_items.end() ? QString() : it->second;
    }
    void setItemEnabled(int id, bool enabled) {
        std::lock_guard lock(m_mutex);
        m_enabled[id] = enabled;
    }
    void setChannelCell(int row, int column, const QString& text) {
        std::lock_guard lock(m_mutex);
        ++m_cellWriteAttempts;
        if (row < 0 || row >= 6) return;
        m_cells[{row, column}] = text;
    }
    QString channelCell(int row, int column) {
        std::lock_guard lock(m_mutex);
        auto it = m_cells.find({row, column});
        return it == m_cells.end() ? QString() : it->second;
    }
    void channelPollDone() override {
        std::lock_guard lock(m_mutex);
        ++m_pollsDone;
    }
    int pollsDone() {
        std::lock_guard lock(m_mutex);
        return m_pollsDone;
    }
    void StopTest() override {
        std::lock_guard lock(m_mutex);
        ++m_stops;
    }
    void FinishTest(bool sendStop, const QString& picturePrompt) override {
        std::lock_guard lock(m_mutex);
        m_finishes.push_back({sendStop, picturePrompt});
    }
    // Records the minute count and answers with m_decision.
    ResumeDecision resumeChecked(int32_t minutes) override {
        std::lock_guard lock(m_mutex);
        m_checkedMinutes.push_back(minutes);
        return m_decision.load();
    }
    std::vector<int32_t> checkedMinutes() {
        std::lock_guard lock(m_mutex);
        return m_checkedMinutes;
    }
    MessageBox::Result message(const QString& text, const QString& caption,
                               MessageBox::Buttons buttons, MessageBox::Icon icon) override {
        return MessageBox::show(nullptr, text, caption, buttons, icon);
    }
    bool started() const override { return m_started; }
    SharedEvent& stopEvent() override { return m_stopEvent; }

    bool enabled(int id) {
        std::lock_guard lock(m_mutex);
        auto it = m_enabled.find(id);
        return it != m_enabled.end() && it->second;
    }
    bool enabledKnown(int id) {
        std::lock_guard lock(m_mutex);
        return m_enabled.count(id) != 0;
    }
    std::vector<Finish> finishes() {
        std::lock_guard lock(m_mutex);
        return m_finishes;
    }
    int stops() {
        std::lock_guard lock(m_mutex);
        return m_stops;
    }
    std::vector<std::pair<int, QString>> itemWrites() {
        std::lock_guard lock(m_mutex);
        return m_itemWrites;
    }
    int cellWriteAttempts() {
        std::lock_guard lock(m_mutex);
        return m_cellWriteAttempts;
    }
    int cellCount() {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_cells.size());
    }

    bool m_started = false;
    std::atomic<ResumeDecision> m_decision{ResumeDecision::Resume};

private:
    std::mutex m_mutex;
    std::map<int, QString> m_items;
    std::map<int, bool> m_enabled;
    std::map<std::pair<int, int>, QString> m_cells;
    std::vector<std::pair<int, QString>> m_itemWrites;
    std::vector<Finish> m_finishes;
    std::vector<int32_t> m_checkedMinutes;
    int m_stops = 0;
    int m_pollsDone = 0;
    int m_cellWriteAttempts = 0;
    SharedEvent m_stopEvent;
};
