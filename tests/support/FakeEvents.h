#pragma once

#include "platform/Events.h"

#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace Testing {

// Records every event posted, in order, and plays a desktop whose pointer and displays the test
// sets. Safe from any thread.
class FakeEvents final : public Platform::Events {
public:
    struct Scroll {
        std::int32_t vertical = 0;
        std::int32_t horizontal = 0;
        Flags flags;
        friend bool operator==(const Scroll&, const Scroll&) = default;
    };
    struct Key {
        std::uint16_t code = 0;
        bool isDown = false;
        Flags flags;
        friend bool operator==(const Key&, const Key&) = default;
    };
    struct Character {
        std::u16string units;
        friend bool operator==(const Character&, const Character&) = default;
    };
    using Posted = std::variant<MouseEvent, Scroll, Key, Character>;

    static constexpr Rect fullHD{0, 0, 1920, 1080};

    std::optional<Point> pointerLocation() override;
    std::optional<std::vector<Rect>> activeDisplayBounds() override;
    bool postMouse(const MouseEvent& event) override;
    bool postScroll(std::int32_t vertical, std::int32_t horizontal, Flags flags) override;
    bool postKey(std::uint16_t code, bool isDown, Flags flags) override;
    bool postCharacter(std::u16string_view units) override;
    std::vector<int> injectedDeviceIDs() const override;

    // Where the desktop says the pointer is; nothing makes reading it fail.
    void setPointer(std::optional<Point> pointer);
    // Whether a posted move or drag puts the reported pointer at its position (on at first).
    void setPointerFollowsMoves(bool follows);
    // The active displays; nothing makes listing them fail. One 1920 × 1080 display at first.
    void setDisplays(std::optional<std::vector<Rect>> displays);
    // Whether posting fails: nothing is recorded then.
    void setPostsFail(bool fail);
    void setInjectedDeviceIDs(std::vector<int> ids);

    std::vector<Posted> posted() const;
    void clearPosted();
    // How many times the pointer was read.
    int pointerReads() const;

private:
    bool record(Posted event);

    mutable std::mutex lock_;
    std::optional<Point> pointer_ = Point{};
    bool pointerFollowsMoves_ = true;
    std::optional<std::vector<Rect>> displays_ = std::vector<Rect>{fullHD};
    bool postsFail_ = false;
    std::vector<int> injectedDeviceIDs_;
    std::vector<Posted> posted_;
    int pointerReads_ = 0;
};

} // namespace Testing
