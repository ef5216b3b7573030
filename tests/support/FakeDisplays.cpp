#include "tests/support/FakeDisplays.h"

#include <utility>

namespace Testing {

FakeDisplays::FakeDisplays(std::vector<Platform::ShareableDisplay> displays) : displays_(std::move(displays)) {}

std::vector<Platform::ShareableDisplay> FakeDisplays::list() {
    std::lock_guard guard(lock_);
    ++listCount_;
    if (failure_) throw Platform::DisplaysError(*failure_);
    return displays_;
}

void FakeDisplays::setDisplays(std::vector<Platform::ShareableDisplay> displays) {
    std::lock_guard guard(lock_);
    displays_ = std::move(displays);
}

void FakeDisplays::setFailure(std::optional<std::string> message) {
    std::lock_guard guard(lock_);
    failure_ = std::move(message);
}

std::size_t FakeDisplays::listCount() const {
    std::lock_guard guard(lock_);
    return listCount_;
}

Platform::ShareableDisplay FakeDisplays::display(std::uint32_t displayID, int width, int height, bool isMain,
                                                 std::string name) {
    Platform::ShareableDisplay display;
    display.displayID = displayID;
    display.width = width;
    display.height = height;
    display.isMain = isMain;
    display.bounds = {0, 0, width, height};
    display.name = std::move(name);
    return display;
}

} // namespace Testing
