#include "platform/linux/UnsupportedInputLock.h"

namespace Platform {

std::unique_ptr<InputLock> InputLock::create() { return std::make_unique<Linux::UnsupportedInputLock>(); }

namespace Linux {

bool UnsupportedInputLock::lock(std::function<void()>) {
    refusal_ = reason;
    return false;
}

} // namespace Linux
} // namespace Platform
