#pragma once

#include "platform/CursorImage.h"
#include "platform/linux/X11Connection.h"

#include <memory>
#include <string>

namespace Platform::Linux {

// The pointer's picture through XFixes, over a connection of its own. X draws pointers at one point
// per pixel, so the scale is always 1.
class XFixesCursorImage final : public CursorImage {
public:
    // Throws X11Error when no server answers or it lacks XFixes 2.
    explicit XFixesCursorImage(const std::string& displayName);

    std::optional<Image> current() override;

private:
    std::unique_ptr<X11Connection> connection_;
};

} // namespace Platform::Linux
