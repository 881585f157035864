#pragma once

#include <QString>

#include "platform/message_box.h"
#include "platform/shared_event.h"

// What the instrument link sees of the test form: fields and buttons by control id, the
// cells of the channel table, and the stop and finish procedures. Every call may come
// from any thread; the form carries it out on the GUI thread while the caller waits.
class TestView {
public:
    virtual ~TestView() = default;

    virtual void setItemText(int id, const QString& text) = 0;
    virtual QString itemText(int id) = 0;
    virtual void setItemEnabled(int id, bool enabled) = 0;
    // A row that does not exist changes nothing.
    virtual void setChannelCell(int row, int column, const QString& text) = 0;
    virtual QString channelCell(int row, int column) = 0;

    virtual void StopTest() = 0;
    virtual void FinishTest(bool sendStop, const QString& picturePrompt) = 0;

    // m_bStarted: a test has been started in this window.
    virtual bool started() const = 0;
    // m_hStopEvent: ends the command cycle.
    virtual SharedEvent& stopEvent() = 0;
    // A message box owned by the form.
    virtual MessageBox::Result message(const QString& text,
                                       const QString& caption = MessageBox::kAppCaption,
                                       MessageBox::Buttons buttons = MessageBox::Buttons::Ok,
                                       MessageBox::Icon icon = MessageBox::Icon::None) = 0;
};
