#pragma once

#include "platform/Displays.h"

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Testing {

// Displays that the test lists: either its displays or a failure. Records how often it was asked.
// Safe from any thread.
class FakeDisplays final : public Platform::Displays {
public:
    explicit FakeDisplays(std::vector<Platform::ShareableDisplay> displays = {});

    std::vector<Platform::ShareableDisplay> list() override;

    void setDisplays(std::vector<Platform::ShareableDisplay> displays);
    // Every list() throws DisplaysError with `message` until cleared with nullopt.
    void setFailure(std::optional<std::string> message);
    std::size_t listCount() const;

    // A display as X11Displays reports one: the given size at the origin.
    static Platform::ShareableDisplay display(std::uint32_t displayID, int width, int height, bool isMain = true,
                                              std::string name = {});

private:
    mutable std::mutex lock_;
    std::vector<Platform::ShareableDisplay> displays_;
    std::optional<std::string> failure_;
    std::size_t listCount_ = 0;
};

} // namespace Testing
