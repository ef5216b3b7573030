// The restore watchdog: reads what to give back from standard input, one line each,
//   ramps <displayID> <n> <red levels> <n> <green levels> <n> <blue levels>
//   attach <device> <master>
//   forget
// and when its input ends (the host is gone) loads the ramps and reattaches the devices that were
// not forgotten.
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11ErrorTrap.h"
#include "platform/linux/XRandrGamma.h"

#include <X11/extensions/XInput2.h>

#include <csignal>
#include <iostream>
#include <locale>
#include <map>
#include <sstream>
#include <string>

namespace {

std::vector<float> readRamp(std::istringstream& line) {
    std::size_t count = 0;
    line >> count;
    std::vector<float> ramp;
    for (float level = 0; ramp.size() < count && line >> level;) ramp.push_back(level);
    return ramp;
}

void reattach(const std::string& displayName, const std::map<int, int>& attachments) {
    try {
        const auto connection = Platform::Linux::X11Connection::open(displayName);
        for (const auto& [device, master] : attachments) {
            XIAnyHierarchyChangeInfo change{};
            change.attach = {XIAttachSlave, device, master};
            Platform::Linux::X11ErrorTrap trap(connection->display());
            XIChangeHierarchy(connection->display(), &change, 1);
            trap.sync();
        }
    } catch (const Platform::Linux::X11Error&) {
        // The server is gone, and the floats with it.
    }
}

} // namespace

int main(int argc, char** argv) {
    // The host's terminal may go with it; the restore must still happen.
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
    std::map<std::uint32_t, Platform::Gamma::Ramps> ramps;
    std::map<int, int> attachments;
    for (std::string text; std::getline(std::cin, text);) {
        std::istringstream line(text);
        line.imbue(std::locale::classic());
        std::string verb;
        line >> verb;
        if (verb == "forget") {
            ramps.clear();
            attachments.clear();
        } else if (verb == "attach") {
            int device = 0;
            int master = 0;
            if (line >> device >> master) attachments.insert_or_assign(device, master);
        } else if (verb == "ramps") {
            std::uint32_t display = 0;
            line >> display;
            Platform::Gamma::Ramps saved;
            saved.red = readRamp(line);
            saved.green = readRamp(line);
            saved.blue = readRamp(line);
            if (line) ramps.insert_or_assign(display, std::move(saved));
        }
    }
    const std::string displayName = argc > 1 ? argv[1] : "";
    if (!attachments.empty()) reattach(displayName, attachments);
    if (!ramps.empty()) {
        Platform::Linux::XRandrGamma gamma(displayName, Platform::Linux::XRandrGamma::Guard::none);
        for (const auto& [display, saved] : ramps) gamma.setRamps(display, saved);
    }
    return 0;
}
