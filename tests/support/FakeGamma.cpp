#include "tests/support/FakeGamma.h"

namespace Testing {

std::vector<std::uint32_t> FakeGamma::onlineDisplays() {
    std::vector<std::uint32_t> ids;
    for (const auto& [id, ramps] : current) ids.push_back(id);
    return ids;
}

std::optional<Platform::Gamma::Ramps> FakeGamma::ramps(std::uint32_t displayID) {
    const auto found = current.find(displayID);
    if (found == current.end()) return std::nullopt;
    return found->second;
}

bool FakeGamma::setRamps(std::uint32_t displayID, const Ramps& ramps) {
    const auto found = current.find(displayID);
    if (found == current.end()) return false;
    saved_.try_emplace(displayID, found->second);
    found->second = ramps;
    sets.emplace_back(displayID, ramps);
    return true;
}

void FakeGamma::restoreSavedRamps() {
    ++restores;
    for (const auto& [id, ramps] : saved_) {
        if (current.contains(id)) current[id] = ramps;
    }
    saved_.clear();
}

} // namespace Testing
