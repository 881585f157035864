#include "support/scripted_dialogs.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

ScriptedMessageBoxes::ScriptedMessageBoxes() {
    MessageBox::setResponder([this](QWidget* owner, const MessageBox::Request& request) {
        std::lock_guard lock(m_mutex);
        m_shown.push_back(Shown{request, owner != nullptr});
        if (m_answers.empty()) return MessageBox::Ok;
        const Answer answer = m_answers.front();
        m_answers.pop_front();
        if (answer.button.isEmpty()) return answer.result;
        for (int i = 0; i < request.choices.size(); ++i) {
            QString text = request.choices[i];
            text.remove(QRegularExpression(QStringLiteral("\\(&.\\)$"))).remove('&');
            if (text == answer.button)
                return static_cast<MessageBox::Result>(MessageBox::FirstChoice + i);
        }
        ADD_FAILURE() << "no button " << answer.button.toStdString() << " on "
                      << request.text.toStdString();
        return MessageBox::Cancel;
    });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() { MessageBox::setResponder(nullptr); }

void ScriptedMessageBoxes::answer(std::initializer_list<MessageBox::Result> results) {
    std::lock_guard lock(m_mutex);
    for (MessageBox::Result result : results) m_answers.push_back({result, QString()});
}

void ScriptedMessageBoxes::press(std::initializer_list<QString> buttons) {
    std::lock_guard lock(m_mutex);
    for (const QString& button : buttons) m_answers.push_back({MessageBox::Cancel, button});
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
