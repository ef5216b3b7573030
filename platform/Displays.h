#pragma once

#include "platform/ShareableDisplay.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace Platform {

// Why the displays could not be listed; the message is the platform's own text.
class DisplaysError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The displays of this desktop. Use from one thread at a time.
class Displays {
public:
    // Connects to the display server `displayName` (empty: the session's). Returns nullptr when no
    // server answers, with the reason in `whyNot` when given.
    static std::unique_ptr<Displays> create(const std::string& displayName = {}, std::string* whyNot = nullptr);

    virtual ~Displays() = default;

    // The displays in listing order; exactly one is main. Throws DisplaysError.
    virtual std::vector<ShareableDisplay> list() = 0;
};

} // namespace Platform
