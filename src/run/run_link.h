#pragma once

#include <QString>
#include <functional>
#include <memory>

class LinkView;

// The instrument link as the run control reaches it: whether a port is open, bringing an
// open link back after its device went away or its receive loop ended, the writes of the
// start, stop and initialisation commands, and the start of the command cycle. By
// default these are the serial channel and the command cycle themselves; tests put
// stand-ins in their place to watch the commands without a port.
namespace RunLink {

bool portIsOpen();
// ResumeLink: false (after its message) when the device is still gone.
bool resumeLink(std::shared_ptr<LinkView> view);
void sendCommand(const QString& text, LinkView* owner);
bool startCommandCycle(std::shared_ptr<LinkView> view);

struct Hooks {
    std::function<bool()> portIsOpen;
    std::function<void(const QString& text, LinkView* owner)> sendCommand;
    std::function<bool(std::shared_ptr<LinkView> view)> startCommandCycle;
    std::function<bool(std::shared_ptr<LinkView> view)> resumeLink;
};
// Members left empty use the real link; Hooks{} restores it entirely.
void setHooksForTests(Hooks hooks);

}  // namespace RunLink
