#pragma once

#include "core/Bytes.h"
#include "core/CodecError.h"
#include "core/WirePacket.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

namespace TessaloyCore {

// One input event from the device, carried by an `input` packet: a tag byte (the case's index + 1)
// and the case's fields.
struct InputEvent {
    using Error = CodecError<InputEvent>;

    static constexpr std::int64_t maximumKeyCode = 127;
    static constexpr std::size_t maximumTextBytes = 256;

    enum class MouseButton : std::uint8_t { left = 0, right = 1, middle = 2 };

    // An option set over one byte; bits above capsLock are invalid on the wire.
    struct Modifiers {
        static const Modifiers shift;
        static const Modifiers control;
        static const Modifiers option;
        static const Modifiers command;
        static const Modifiers capsLock;
        static constexpr std::uint8_t validBits = 0x1F;

        std::uint8_t rawValue = 0;

        constexpr bool contains(Modifiers other) const noexcept {
            return (rawValue & other.rawValue) == other.rawValue;
        }
        constexpr bool isEmpty() const noexcept { return rawValue == 0; }
        constexpr void insert(Modifiers other) noexcept { rawValue |= other.rawValue; }
        constexpr void remove(Modifiers other) noexcept { rawValue &= static_cast<std::uint8_t>(~other.rawValue); }

        friend constexpr Modifiers operator|(Modifiers left, Modifiers right) noexcept {
            return {static_cast<std::uint8_t>(left.rawValue | right.rawValue)};
        }
        friend constexpr bool operator==(Modifiers, Modifiers) = default;
    };

    struct PointerMove {
        std::int64_t dx = 0;
        std::int64_t dy = 0;
        friend bool operator==(const PointerMove&, const PointerMove&) = default;
    };
    // A move whose resulting pointer position the device wants back, matched by `sequence`.
    struct TrackedPointerMove {
        std::int64_t dx = 0;
        std::int64_t dy = 0;
        std::uint32_t sequence = 0;
        friend bool operator==(const TrackedPointerMove&, const TrackedPointerMove&) = default;
    };
    struct Button {
        MouseButton button = MouseButton::left;
        bool isDown = false;
        friend bool operator==(const Button&, const Button&) = default;
    };
    struct Click {
        MouseButton button = MouseButton::left;
        bool isDown = false;
        std::int64_t count = 1;
        friend bool operator==(const Click&, const Click&) = default;
    };
    struct Scroll {
        std::int64_t dx = 0;
        std::int64_t dy = 0;
        friend bool operator==(const Scroll&, const Scroll&) = default;
    };
    struct Key {
        std::int64_t code = 0;
        bool isDown = false;
        Modifiers modifiers;
        friend bool operator==(const Key&, const Key&) = default;
    };
    struct Text {
        std::string text;
        friend bool operator==(const Text&, const Text&) = default;
    };
    struct EnableLocalCursor {
        friend bool operator==(const EnableLocalCursor&, const EnableLocalCursor&) = default;
    };
    struct ReleaseAll {
        friend bool operator==(const ReleaseAll&, const ReleaseAll&) = default;
    };

    // In tag order, from 1.
    using Value =
        std::variant<PointerMove, TrackedPointerMove, Button, Click, Scroll, Key, Text, EnableLocalCursor, ReleaseAll>;

    Value value;

    template <typename Case>
    bool is() const noexcept {
        return std::holds_alternative<Case>(value);
    }

    // Throws Error: wrongKind for another packet kind, truncated, unknownTag, invalidValue (a key
    // code outside 0...maximumKeyCode, a click count below 1, unknown modifier bits, an unknown
    // button, invalid UTF-8, a bool other than 0 or 1), tooLong (a text over maximumTextBytes),
    // trailingBytes.
    static InputEvent decode(const WirePacket& packet);
    // The payload; throws Error invalidValue or tooLong for a value the decoder would refuse.
    Bytes encoded() const;
    WirePacket packet() const;

    friend bool operator==(const InputEvent&, const InputEvent&) = default;
};

inline constexpr InputEvent::Modifiers InputEvent::Modifiers::shift{1};
inline constexpr InputEvent::Modifiers InputEvent::Modifiers::control{2};
inline constexpr InputEvent::Modifiers InputEvent::Modifiers::option{4};
inline constexpr InputEvent::Modifiers InputEvent::Modifiers::command{8};
inline constexpr InputEvent::Modifiers InputEvent::Modifiers::capsLock{16};

} // namespace TessaloyCore
