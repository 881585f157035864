#pragma once

#include <QPointer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "link/link_view.h"
#include "platform/message_box.h"

class Testclass;

// The test form as the link threads see it. It lives as long as any thread holds it, so a
// thread never touches a destroyed form: every call goes to the GUI thread through the
// gate and finds the form there, or does nothing once the form is gone.
//
// The readings and the fields the link writes are gathered while a command runs and handed
// to the GUI thread together, without waiting, when the command ends, when the cycle begins
// to repeat an unanswered request, when a channel poll ends, and before every other call
// (a message, the stop, the finish): the GUI thread then wakes and repaints once per command
// instead of once per reply. Whatever the link hands over reaches the form in the order it
// was produced, from whichever thread: the gathered texts are queued to the gate as one
// batch under the same lock that gathers them, so a later text or call can never overtake
// them. A write the GUI thread makes itself to one of these texts comes after every text the
// link gathered before it: those are dropped rather than shown over it. A record tick waits
// for every text gathered before it to be shown (whenShown). A text the form already
// shows, or is about to show, is not handed over again; the specimen temperature's last
// reading goes to its watch all the same, so that the watch sees each one.
class FormLink : public LinkView, public std::enable_shared_from_this<FormLink> {
  public:
    explicit FormLink(Testclass* form);

    void setField(Field field, const QString& text) override;
    void setButtonEnabled(Button button, bool enabled) override;
    void setReading(int row, Reading reading, const QString& text) override;

    // The form's fields and cells, from any thread (carried out on the GUI thread while the
    // caller waits).
    void setItemText(int id, const QString& text);
    QString itemText(int id);
    void setItemEnabled(int id, bool enabled);

    void channelPollDone() override;
    void commandEnded() override;
    void repeating() override;
    // A communication failure stops the test.
    void StopTest() override;
    // The stop itself, whatever its cause (any thread).
    void stopTest();
    void FinishTest(bool sendStop, const QString& picturePrompt) override;
    // Asks m_resumeChecked on the GUI thread; Resume when none is set, Refuse once the form
    // is gone.
    ResumeDecision resumeChecked(int32_t minutes) override;

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

    // GUI thread: runs `fn` with the form once every text the link produced so far is shown,
    // at once when none is on its way, else after them from the event loop (nothing when the
    // form is gone by then). The record tick takes its record through it.
    void whenShown(std::function<void(Testclass&)> fn);
    // GUI thread: the form itself writes field `id` (or cell `row`, `column`); a text the
    // link gathered for it before this write must not land after it.
    void writtenOnGui(int id);
    void writtenOnGui(int row, int column);

    std::atomic<uint8_t> m_bStarted{0};  // a test has been started in this window
    SharedEvent m_hStopEvent;            // ends the command cycle

    // The saves offered by the questions at the end of a test: the form's OnSaveChart and
    // OnSaveExcel (tests may watch them). They run on the GUI thread.
    std::function<void(Testclass&)> m_saveChart;
    std::function<void(Testclass&)> m_saveExcel;
    // The run control's decision on a recovered test, given the instrument's minute count
    // (GUI thread). Set before the command cycle asks (command code 2).
    std::function<ResumeDecision(Testclass&, int32_t minutes)> m_resumeChecked;
    // Called with every specimen temperature reading once the form shows it, whether or not
    // its text changed (GUI thread). The run control watches the temperature through it.
    std::function<void(Testclass&, const QString& text)> m_temperatureShown;

  private:
    // A field by id ({id, -1}) or a cell of the channel table ({row, column}).
    using TextKey = std::pair<int, int>;

    // Texts handed to the GUI thread together, and the temperature reading for its watch.
    struct Batch {
        std::map<TextKey, QString> texts;
        std::optional<QString> temperature;
        bool empty() const { return texts.empty() && !temperature; }
    };

    // Hands `fn` with the form to the GUI thread without waiting, after the gathered texts.
    void postToForm(std::function<void(Testclass&)> fn);
    // Gathers `text` for `key` unless the form already shows it or is about to.
    void postText(TextKey key, const QString& text);
    void gatherLocked(TextKey key, const QString& text);
    // Hands the gathered texts to the GUI thread.
    void flushTexts();
    // With m_textsMutex held: queues the gathered texts as one batch; false when nothing
    // was gathered or the gate is closed.
    bool queueGatheredLocked();
    // GUI thread: shows `batch` (the texts not dropped meanwhile) and hands the temperature
    // reading to its watch.
    void showBatch(const std::shared_ptr<Batch>& batch);
    // GUI thread: the form writes `key` itself.
    void written(TextKey key);
    // GUI thread: writes `text` into the form and, on the first call, starts watching the
    // form's own writes to the texts the link writes.
    void applyText(Testclass& form, TextKey key, const QString& text);
    void watch(Testclass& form);

    // Asks `question` (empty caption, OK and Cancel, exclamation) and on OK runs `save`,
    // both with the form on the GUI thread; nothing when the form is gone.
    void askAndSave(const QString& question, const std::function<void(Testclass&)>& save);
    // Channel status word of every channel in use, "开始实验" on 1085, 1024 ... 1028 enabled.
    static void showStopped(Testclass& form, const QString& status);

    QPointer<Testclass> m_form;  // touched only on the GUI thread

    // The text each key will show once the posted work has run, as far as the link knows:
    // set when the link posts a text, forgotten when anything else writes it.
    std::mutex m_textsMutex;
    std::map<TextKey, QString> m_texts;
    Batch m_gathered;                              // not yet handed over
    std::vector<std::shared_ptr<Batch>> m_queued;  // handed over, not yet shown; oldest first
    bool m_watching = false;  // GUI thread
    bool m_applying = false;  // GUI thread: the link's own write is under way
};
