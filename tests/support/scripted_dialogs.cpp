#include "support/scripted_dialogs.h"

ScriptedMessageBoxes::ScriptedMessageBoxes() {
    MessageBox::setResponder([this](QWidget* owner, const MessageBox::Request& request) {
        std::lock_guard lock(m_mutex);
        m_shown.push_back(Shown{request, owner != nullptr});
        if (m_answers.empty()) return MessageBox::Ok;
        MessageBox::Result result = m_answers.front();
        m_answers.pop_front();
        return result;
    });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() { MessageBox::setResponder(nullptr); }

void ScriptedMessageBoxes::answer(std::initializer_list<MessageBox::Result> results) {
    std::lock_guard lock(m_mutex);
    m_answers.insert(m_answers.end(), results.begin(), results.end());
}

std::vector<ScriptedMessageBoxes::Shown> ScriptedMessageBoxes::shown() const {
    std::lock_guard lock(m_mutex);
    return m_shown;
}

QStringList ScriptedMessageBoxes::texts() const {
    std::lock_guard lock(m_mutex);
    QStringList list;
    for (const auto& s : m_shown) list << s.request.text;
    return list;
}

int ScriptedMessageBoxes::count() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_shown.size());
}

void ScriptedMessageBoxes::clear() {
    std::lock_guard lock(m_mutex);
    m_shown.clear();
}

ScriptedFileDialogs::ScriptedFileDialogs() {
    FileDialog::setResponder([this](QWidget*, const FileDialog::SaveRequest& request) {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        if (m_answers.empty()) return QString();
        QString path = m_answers.front();
        m_answers.pop_front();
        return path;
    });
}

ScriptedFileDialogs::~ScriptedFileDialogs() { FileDialog::setResponder(nullptr); }

void ScriptedFileDialogs::answer(std::initializer_list<QString> paths) {
    std::lock_guard lock(m_mutex);
    m_answers.insert(m_answers.end(), paths.begin(), paths.end());
}

std::vector<FileDialog::SaveRequest> ScriptedFileDialogs::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}
