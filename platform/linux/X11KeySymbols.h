#pragma once

#include <X11/X.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace Platform::Linux {

// What the device's keys and characters are called in X. The device numbers its keys by position
// on an ANSI keyboard (its virtual key codes); X keyboards are found by keysym, so a key reaches
// the key that carries the same symbol in this desktop's layout.
struct X11KeySymbols {
    // The modifier a key stands for. The device's Command keys are Control here, so Command-V pastes.
    enum class Modifier { none, shift, control, alt, capsLock };

    // The keysym of the device's key `code`; NoSymbol for a code without a key here.
    static ::KeySym forKeyCode(std::uint16_t code);
    static Modifier modifierOf(std::uint16_t code);
    // The keysym that types `scalar`: tab and line breaks as their keys, other control characters
    // as NoSymbol, everything else as its Latin-1 or Unicode keysym.
    static ::KeySym forScalar(char32_t scalar);
    // The Unicode scalars of UTF-16 text; an unpaired surrogate becomes U+FFFD.
    static std::u32string scalarsOf(std::u16string_view units);
};

} // namespace Platform::Linux
