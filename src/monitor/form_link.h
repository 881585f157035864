#pragma once

#include <QPointer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/message_box.h"
#include "link/link_view.h"

class Testclass;

// The test form as the link threads see it. It lives as long as any thread holds it, so a
// thread never touches a destroyed form: every call goes to the GUI thread through the
// gate and finds the form there, or does nothing once the form is gone.
class FormLink : public LinkView, public std::enable_shared_from_this<FormLink> {
  public:
    explicit FormLink(Testclass* form);

    void setField(Field field, const QString& text) override;
    void setButtonEnabled(Button button, bool enabled) override;
    void setReading(int row, Reading reading, const QString& text) override;

    // The form's fields and cells, from any thread (carried out on the GUI thread).
    void setItemText(int id, const QString& text);
    QString itemText(int id);
    void setItemEnabled(int id, bool enabled);

    // Tells the form on the GUI thread, without waiting.
    void channelPollDone() override;
    // A communication failure stops the test.
    void StopTest() override;
    // The stop itself, whatever its cause (any thread).
    void stopTest();
    void FinishTest(bool sendStop, const QString& picturePrompt) override;

    bool started() const override { return m_bStarted.load() != 0; }
    SharedEvent& stopEvent() override { return m_hStopEvent; }

    // A message box owned by the form, from any thread; none (Cancel) once the form is gone.
    MessageBox::Result message(const QString& text,
                               const QString& caption = MessageBox::kAppCaption,
                               MessageBox::Buttons buttons = MessageBox::Buttons::Ok,
                               MessageBox::Icon icon = MessageBox::Icon::None) override;
    // Runs `fn` with the form on the GUI thread while the caller waits; false when the form
    // is gone or the gate is closed.
    bool withForm(const std::function<void(Testclass&)>& fn);

    // The form is going away (GUI thread).
    void detach();

    std::atomic<uint8_t> m_bStarted{0};  // a test has been started in this window
    SharedEvent m_hStopEvent;            // ends the command cycle

    // The saves offered by the questions at the end of a test: the form's OnSaveChart and
    // OnSaveExcel (tests may watch them). They run on the GUI thread.
    std::function<void(Testclass&)> m_saveChart;
    std::function<void(Testclass&)> m_saveExcel;

  private:
    // Asks `question` (empty caption, OK and Cancel, exclamation) and on OK runs `save`,
    // both with the form on the GUI thread; nothing when the form is gone.
    void askAndSave(const QString& question, const std::function<void(Testclass&)>& save);
    // Channel status word of every channel in use, "开始实验" on 1085, 1024 ... 1028 enabled.
    static void showStopped(Testclass& form, const QString& status);

    QPointer<Testclass> m_form;  // touched only on the GUI thread
};
