#pragma once

#include <QString>
#include <cstdint>

#include "platform/message_box.h"
#include "platform/shared_event.h"

// What the run control makes of a recovered test once the instrument has told its minute
// count: carry on, leave the test paused, end it now (its duration has passed), or read the
// channels' charges first and then decide again (the count alone cannot tell).
enum class ResumeDecision { Resume, Refuse, FinishNow, ReadChargesFirst };

// What the instrument link needs of the test window: the texts it shows, the two buttons it
// enables, the readings of the channel table, and the stop and finish procedures. Every call
// may come from any thread; the window carries it out on the GUI thread.
class LinkView {
  public:
    // The fields the link writes.
    enum class Field { CommStatus, RemainingMinutes, Voltage, Temperature };
    // The buttons the initialisation check enables and disables.
    enum class Button { Init, Start };
    // The two reading columns of the channel table.
    enum class Reading { Current, Charge };

    virtual ~LinkView() = default;

    virtual void setField(Field field, const QString& text) = 0;
    virtual void setButtonEnabled(Button button, bool enabled) = 0;
    // Row `row` of the channel table (0-based); a row that does not exist changes nothing.
    virtual void setReading(int row, Reading reading, const QString& text) = 0;

    // A channel poll has ended (all channels read, or cut short by a failure): the readings
    // it left in the channel table are the poll's values. Must not keep the caller waiting.
    virtual void channelPollDone() = 0;
    // A command of the cycle has ended. A window may hold back what the command wrote until
    // then, to show it all at once; what it holds back must be shown by now, and before any
    // call that keeps the caller waiting. Must not keep the caller waiting.
    virtual void commandEnded() {}
    // An unanswered request is about to be repeated: the command may go on for seconds. What
    // the window holds back of it so far is due now. Must not keep the caller waiting.
    virtual void repeating() {}

    // The test stops after a communication failure.
    virtual void StopTest() = 0;
    // The instrument reports the end of the test.
    virtual void FinishTest(bool sendStop, const QString& picturePrompt) = 0;

    // The instrument's minute count, asked before a recovered test resumes, has come
    // (command code 2). The caller waits for the decision, made on the GUI thread.
    virtual ResumeDecision resumeChecked(int32_t minutes) = 0;

    // A test has been started in this window (m_bStarted).
    virtual bool started() const = 0;
    // m_hStopEvent: ends the command cycle.
    virtual SharedEvent& stopEvent() = 0;
    // A message box owned by the window.
    virtual MessageBox::Result message(const QString& text,
                                       const QString& caption = MessageBox::kAppCaption,
                                       MessageBox::Buttons buttons = MessageBox::Buttons::Ok,
                                       MessageBox::Icon icon = MessageBox::Icon::None) = 0;
};
