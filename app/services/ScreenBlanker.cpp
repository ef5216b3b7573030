#include "app/services/ScreenBlanker.h"

namespace Plovander {
namespace {

// Every input level maps to 0.
const Platform::Gamma::Ramps black{.red = {0.0F, 0.0F}, .green = {0.0F, 0.0F}, .blue = {0.0F, 0.0F}};

} // namespace

ScreenBlanker::~ScreenBlanker() { setBlanking(false); }

void ScreenBlanker::setBlanking(bool on) {
    if (on == isBlanking_) return;
    isBlanking_ = on;
    tick_.cancel();
    if (on) {
        apply();
        scheduleTick();
    } else {
        gamma_.restoreSavedRamps();
        blackDisplays_ = 0;
    }
}

void ScreenBlanker::apply() {
    int taken = 0;
    for (const std::uint32_t display : gamma_.onlineDisplays()) {
        if (gamma_.setRamps(display, black)) ++taken;
    }
    blackDisplays_ = taken;
}

void ScreenBlanker::scheduleTick() {
    // Called off with the blanker.
    tick_ = actor_.after(reapplyInterval, [this] {
        if (!isBlanking_) return;
        apply();
        scheduleTick();
    });
}

} // namespace Plovander
