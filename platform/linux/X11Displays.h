#pragma once

#include "platform/Displays.h"
#include "platform/linux/X11Connection.h"

#include <memory>

namespace Platform::Linux {

// The monitors of an X screen (RandR 1.5), over a connection of its own.
class X11Displays final : public Displays {
public:
    // Throws X11Error when no server answers.
    explicit X11Displays(const std::string& displayName);

    std::vector<ShareableDisplay> list() override;

private:
    std::unique_ptr<X11Connection> connection_;
};

} // namespace Platform::Linux
