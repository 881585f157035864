#include "run/run_link.h"

#include <mutex>

#include "link/command_cycle.h"
#include "link/serial_channel.h"

namespace RunLink {
namespace {

std::mutex g_mutex;
Hooks g_hooks;

Hooks hooks() {
    std::lock_guard lock(g_mutex);
    return g_hooks;
}

}  // namespace

bool portIsOpen() {
    Hooks h = hooks();
    return h.portIsOpen ? h.portIsOpen() : PortIsOpen();
}

bool resumeLink(std::shared_ptr<LinkView> view) {
    Hooks h = hooks();
    return h.resumeLink ? h.resumeLink(std::move(view)) : ResumeLink(std::move(view));
}

void sendCommand(const QString& text, LinkView* owner) {
    Hooks h = hooks();
    if (h.sendCommand)
        h.sendCommand(text, owner);
    else
        SendCommand(text, owner);
}

bool startCommandCycle(std::shared_ptr<LinkView> view) {
    Hooks h = hooks();
    return h.startCommandCycle ? h.startCommandCycle(std::move(view))
                               : StartCommandCycle(std::move(view));
}

void setHooksForTests(Hooks newHooks) {
    std::lock_guard lock(g_mutex);
    g_hooks = std::move(newHooks);
}

}  // namespace RunLink
