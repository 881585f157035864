#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/file_dialog.h"
#include "platform/message_box.h"

// Answers every message box as scripted (OK unless told otherwise) and records it.
class ScriptedMessageBoxes {
public:
    struct Shown {
        MessageBox::Request request;
        bool hadOwner = false;
    };

    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes();

    // The answers to the next boxes, in order; after them every box is answered OK.
    void answer(std::initializer_list<MessageBox::Result> results);
    // The next boxes are answered with the button of that text, mnemonic left out ("恢复").
    // A box without such a button fails the test and gets its safe choice.
    void press(std::initializer_list<QString> buttons);
    std::vector<Shown> shown() const;
    QStringList texts() const;
    int count() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    struct Answer {
        MessageBox::Result result = MessageBox::Ok;
        QString button;  // when not empty: the button of this text
    };
    std::deque<Answer> m_answers;
    std::vector<Shown> m_shown;
};

// Answers every save dialog with the next scripted path ("" cancels) and records requests.
class ScriptedFileDialogs {
public:
    ScriptedFileDialogs();
    ~ScriptedFileDialogs();

    void answer(std::initializer_list<QString> paths);
    std::vector<FileDialog::SaveRequest> requests() const;

private:
    mutable std::mutex m_mutex;
    std::deque<QString> m_answers;
    std::vector<FileDialog::SaveRequest> m_requests;
};
