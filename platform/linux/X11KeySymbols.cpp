#include "platform/linux/X11KeySymbols.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <array>

namespace Platform::Linux {
namespace {

using KeyTable = std::array<::KeySym, 128>;

constexpr KeyTable makeKeyTable() {
    KeyTable table{};
    const auto set = [&table](std::size_t code, ::KeySym symbol) { table[code] = symbol; };
    set(0, XK_a);
    set(1, XK_s);
    set(2, XK_d);
    set(3, XK_f);
    set(4, XK_h);
    set(5, XK_g);
    set(6, XK_z);
    set(7, XK_x);
    set(8, XK_c);
    set(9, XK_v);
    set(10, XK_section); // the ISO key left of 1
    set(11, XK_b);
    set(12, XK_q);
    set(13, XK_w);
    set(14, XK_e);
    set(15, XK_r);
    set(16, XK_y);
    set(17, XK_t);
    set(18, XK_1);
    set(19, XK_2);
    set(20, XK_3);
    set(21, XK_4);
    set(22, XK_6);
    set(23, XK_5);
    set(24, XK_equal);
    set(25, XK_9);
    set(26, XK_7);
    set(27, XK_minus);
    set(28, XK_8);
    set(29, XK_0);
    set(30, XK_bracketright);
    set(31, XK_o);
    set(32, XK_u);
    set(33, XK_bracketleft);
    set(34, XK_i);
    set(35, XK_p);
    set(36, XK_Return);
    set(37, XK_l);
    set(38, XK_j);
    set(39, XK_apostrophe);
    set(40, XK_k);
    set(41, XK_semicolon);
    set(42, XK_backslash);
    set(43, XK_comma);
    set(44, XK_slash);
    set(45, XK_n);
    set(46, XK_m);
    set(47, XK_period);
    set(48, XK_Tab);
    set(49, XK_space);
    set(50, XK_grave);
    set(51, XK_BackSpace);
    set(53, XK_Escape);
    set(54, XK_Control_R); // right Command
    set(55, XK_Control_L); // Command
    set(56, XK_Shift_L);
    set(57, XK_Caps_Lock);
    set(58, XK_Alt_L); // Option
    set(59, XK_Control_L);
    set(60, XK_Shift_R);
    set(61, XK_Alt_R); // right Option
    set(62, XK_Control_R);
    set(64, XK_F17);
    set(65, XK_KP_Decimal);
    set(67, XK_KP_Multiply);
    set(69, XK_KP_Add);
    set(71, XK_Clear); // the keypad's Clear
    set(72, XF86XK_AudioRaiseVolume);
    set(73, XF86XK_AudioLowerVolume);
    set(74, XF86XK_AudioMute);
    set(75, XK_KP_Divide);
    set(76, XK_KP_Enter);
    set(78, XK_KP_Subtract);
    set(79, XK_F18);
    set(80, XK_F19);
    set(81, XK_KP_Equal);
    set(82, XK_KP_0);
    set(83, XK_KP_1);
    set(84, XK_KP_2);
    set(85, XK_KP_3);
    set(86, XK_KP_4);
    set(87, XK_KP_5);
    set(88, XK_KP_6);
    set(89, XK_KP_7);
    set(90, XK_F20);
    set(91, XK_KP_8);
    set(92, XK_KP_9);
    set(96, XK_F5);
    set(97, XK_F6);
    set(98, XK_F7);
    set(99, XK_F3);
    set(100, XK_F8);
    set(101, XK_F9);
    set(103, XK_F11);
    set(105, XK_F13);
    set(106, XK_F16);
    set(107, XK_F14);
    set(109, XK_F10);
    set(110, XK_Menu);
    set(111, XK_F12);
    set(113, XK_F15);
    set(114, XK_Insert); // Help sits where PC keyboards have Insert, and arrives for it
    set(115, XK_Home);
    set(116, XK_Prior);
    set(117, XK_Delete);
    set(118, XK_F4);
    set(119, XK_End);
    set(120, XK_F2);
    set(121, XK_Next);
    set(122, XK_F1);
    set(123, XK_Left);
    set(124, XK_Right);
    set(125, XK_Down);
    set(126, XK_Up);
    return table;
}

constexpr KeyTable keyTable = makeKeyTable();

constexpr char32_t replacementCharacter = 0xFFFD;
// Keysyms for Unicode scalars beyond Latin-1 are the scalar with this bit set.
constexpr ::KeySym unicodeKeysymBit = 0x0100'0000;

} // namespace

::KeySym X11KeySymbols::forKeyCode(std::uint16_t code) {
    return code < keyTable.size() && keyTable[code] != 0 ? keyTable[code] : NoSymbol;
}

X11KeySymbols::Modifier X11KeySymbols::modifierOf(std::uint16_t code) {
    switch (code) {
        case 56:
        case 60:
            return Modifier::shift;
        case 59:
        case 62:
        case 55:
        case 54:
            return Modifier::control;
        case 58:
        case 61:
            return Modifier::alt;
        case 57:
            return Modifier::capsLock;
        default:
            return Modifier::none;
    }
}

::KeySym X11KeySymbols::forScalar(char32_t scalar) {
    if (scalar == U'\t') return XK_Tab;
    if (scalar == U'\n' || scalar == U'\r') return XK_Return;
    if (scalar < 0x20 || (scalar >= 0x7F && scalar < 0xA0) || scalar > 0x10FFFF) return NoSymbol;
    // Latin-1 keysyms equal their scalars.
    if (scalar < 0x100) return scalar;
    return unicodeKeysymBit | scalar;
}

std::u32string X11KeySymbols::scalarsOf(std::u16string_view units) {
    std::u32string scalars;
    scalars.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            scalars.push_back(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit < 0xE000) {
            scalars.push_back(replacementCharacter);
        } else {
            scalars.push_back(unit);
        }
    }
    return scalars;
}

} // namespace Platform::Linux
