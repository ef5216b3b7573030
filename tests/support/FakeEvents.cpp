#include "tests/support/FakeEvents.h"

namespace Testing {

std::optional<FakeEvents::Point> FakeEvents::pointerLocation() {
    std::lock_guard guard(lock_);
    ++pointerReads_;
    return pointer_;
}

std::optional<std::vector<FakeEvents::Rect>> FakeEvents::activeDisplayBounds() {
    std::lock_guard guard(lock_);
    return displays_;
}

bool FakeEvents::postMouse(const MouseEvent& event) {
    if (!record(event)) return false;
    using Type = MouseEventType;
    if (event.type == Type::mouseMoved || event.type == Type::leftMouseDragged ||
        event.type == Type::rightMouseDragged || event.type == Type::otherMouseDragged) {
        std::lock_guard guard(lock_);
        if (pointerFollowsMoves_) pointer_ = event.position;
    }
    return true;
}

bool FakeEvents::postScroll(std::int32_t vertical, std::int32_t horizontal, Flags flags) {
    return record(Scroll{vertical, horizontal, flags});
}

bool FakeEvents::postKey(std::uint16_t code, bool isDown, Flags flags) { return record(Key{code, isDown, flags}); }

bool FakeEvents::postCharacter(std::u16string_view units) { return record(Character{std::u16string(units)}); }

std::vector<int> FakeEvents::injectedDeviceIDs() const {
    std::lock_guard guard(lock_);
    return injectedDeviceIDs_;
}

void FakeEvents::setPointer(std::optional<Point> pointer) {
    std::lock_guard guard(lock_);
    pointer_ = pointer;
}

void FakeEvents::setPointerFollowsMoves(bool follows) {
    std::lock_guard guard(lock_);
    pointerFollowsMoves_ = follows;
}

void FakeEvents::setDisplays(std::optional<std::vector<Rect>> displays) {
    std::lock_guard guard(lock_);
    displays_ = std::move(displays);
}

void FakeEvents::setPostsFail(bool fail) {
    std::lock_guard guard(lock_);
    postsFail_ = fail;
}

void FakeEvents::setInjectedDeviceIDs(std::vector<int> ids) {
    std::lock_guard guard(lock_);
    injectedDeviceIDs_ = std::move(ids);
}

std::vector<FakeEvents::Posted> FakeEvents::posted() const {
    std::lock_guard guard(lock_);
    return posted_;
}

void FakeEvents::clearPosted() {
    std::lock_guard guard(lock_);
    posted_.clear();
}

int FakeEvents::pointerReads() const {
    std::lock_guard guard(lock_);
    return pointerReads_;
}

bool FakeEvents::record(Posted event) {
    std::lock_guard guard(lock_);
    if (postsFail_) return false;
    posted_.push_back(std::move(event));
    return true;
}

} // namespace Testing
