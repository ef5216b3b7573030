#include <gtest/gtest.h>

#include "platform/linux/X11Connection.h"
#include "platform/linux/X11KeySymbols.h"
#include "tests/support/XvfbServer.h"

#include <X11/XF86keysym.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <map>
#include <set>

namespace {

using Platform::Linux::X11KeySymbols;
using Modifier = X11KeySymbols::Modifier;

TEST(X11KeySymbolsTest, KeyCodesAreThePositionsOfTheANSILayout) {
    EXPECT_EQ(X11KeySymbols::forKeyCode(0), XK_a);
    EXPECT_EQ(X11KeySymbols::forKeyCode(1), XK_s);
    EXPECT_EQ(X11KeySymbols::forKeyCode(6), XK_z);
    EXPECT_EQ(X11KeySymbols::forKeyCode(9), XK_v);
    EXPECT_EQ(X11KeySymbols::forKeyCode(18), XK_1);
    EXPECT_EQ(X11KeySymbols::forKeyCode(29), XK_0);
    EXPECT_EQ(X11KeySymbols::forKeyCode(36), XK_Return);
    EXPECT_EQ(X11KeySymbols::forKeyCode(48), XK_Tab);
    EXPECT_EQ(X11KeySymbols::forKeyCode(49), XK_space);
    EXPECT_EQ(X11KeySymbols::forKeyCode(50), XK_grave);
    EXPECT_EQ(X11KeySymbols::forKeyCode(51), XK_BackSpace);
    EXPECT_EQ(X11KeySymbols::forKeyCode(53), XK_Escape);
    EXPECT_EQ(X11KeySymbols::forKeyCode(117), XK_Delete);
    EXPECT_EQ(X11KeySymbols::forKeyCode(76), XK_KP_Enter);
    EXPECT_EQ(X11KeySymbols::forKeyCode(74), XF86XK_AudioMute);
    const std::vector<std::pair<std::uint16_t, KeySym>> functionKeys{
        {122, XK_F1}, {120, XK_F2}, {99, XK_F3},  {118, XK_F4},  {96, XK_F5},   {97, XK_F6},
        {98, XK_F7},  {100, XK_F8}, {101, XK_F9}, {109, XK_F10}, {103, XK_F11}, {111, XK_F12}};
    for (const auto& [code, keysym] : functionKeys) EXPECT_EQ(X11KeySymbols::forKeyCode(code), keysym) << code;
    const std::vector<std::pair<std::uint16_t, KeySym>> arrows{
        {123, XK_Left}, {124, XK_Right}, {125, XK_Down}, {126, XK_Up}};
    for (const auto& [code, keysym] : arrows) EXPECT_EQ(X11KeySymbols::forKeyCode(code), keysym) << code;
}

TEST(X11KeySymbolsTest, CommandIsControlAndOptionIsAlt) {
    EXPECT_EQ(X11KeySymbols::forKeyCode(55), XK_Control_L);
    EXPECT_EQ(X11KeySymbols::forKeyCode(54), XK_Control_R);
    EXPECT_EQ(X11KeySymbols::forKeyCode(59), XK_Control_L);
    EXPECT_EQ(X11KeySymbols::forKeyCode(62), XK_Control_R);
    EXPECT_EQ(X11KeySymbols::forKeyCode(58), XK_Alt_L);
    EXPECT_EQ(X11KeySymbols::forKeyCode(61), XK_Alt_R);
    EXPECT_EQ(X11KeySymbols::forKeyCode(56), XK_Shift_L);
    EXPECT_EQ(X11KeySymbols::forKeyCode(60), XK_Shift_R);
    EXPECT_EQ(X11KeySymbols::forKeyCode(57), XK_Caps_Lock);
    for (const std::uint16_t code : {56, 60}) EXPECT_EQ(X11KeySymbols::modifierOf(code), Modifier::shift);
    for (const std::uint16_t code : {55, 54, 59, 62}) EXPECT_EQ(X11KeySymbols::modifierOf(code), Modifier::control);
    for (const std::uint16_t code : {58, 61}) EXPECT_EQ(X11KeySymbols::modifierOf(code), Modifier::alt);
    EXPECT_EQ(X11KeySymbols::modifierOf(57), Modifier::capsLock);
    EXPECT_EQ(X11KeySymbols::modifierOf(0), Modifier::none);
    EXPECT_EQ(X11KeySymbols::modifierOf(63), Modifier::none);
}

TEST(X11KeySymbolsTest, CodesWithoutAKeyHaveNoSymbol) {
    for (const std::uint16_t code : {52, 63, 66, 68, 70, 77, 93, 94, 95, 102, 104, 108, 112, 127, 128, 65535}) {
        EXPECT_EQ(X11KeySymbols::forKeyCode(code), static_cast<KeySym>(NoSymbol)) << code;
    }
}

TEST(X11KeySymbolsTest, EveryKeyOfTheTableIsOnAnX11Keyboard) {
    Testing::XvfbServer server;
    const auto connection = Platform::Linux::X11Connection::open(server.displayName());
    // Keys that the server's default (pc105, us) map leaves out.
    const std::set<KeySym> absent{XK_section, XK_Clear, XK_F13, XK_F14, XK_F15, XK_F16, XK_F17, XK_F18, XK_F19, XK_F20};
    std::map<KeySym, std::set<std::uint16_t>> codesOf;
    for (std::uint16_t code = 0; code < 128; ++code) {
        const KeySym keysym = X11KeySymbols::forKeyCode(code);
        if (keysym == NoSymbol) continue;
        codesOf[keysym].insert(code);
        if (absent.contains(keysym)) continue;
        EXPECT_NE(XKeysymToKeycode(connection->display(), keysym), 0) << "code " << code;
    }
    // Only Command and Control share their keys.
    for (const auto& [keysym, codes] : codesOf) {
        if (keysym == XK_Control_L) {
            EXPECT_EQ(codes, (std::set<std::uint16_t>{55, 59}));
        } else if (keysym == XK_Control_R) {
            EXPECT_EQ(codes, (std::set<std::uint16_t>{54, 62}));
        } else {
            EXPECT_EQ(codes.size(), 1u) << "keysym " << keysym;
        }
    }
}

TEST(X11KeySymbolsTest, CharactersBecomeTheirKeysyms) {
    EXPECT_EQ(X11KeySymbols::forScalar(U'a'), XK_a);
    EXPECT_EQ(X11KeySymbols::forScalar(U'~'), XK_asciitilde);
    EXPECT_EQ(X11KeySymbols::forScalar(U'\u00E9'), XK_eacute);
    EXPECT_EQ(X11KeySymbols::forScalar(U'\u00A0'), XK_nobreakspace);
    EXPECT_EQ(X11KeySymbols::forScalar(U'\u20AC'), 0x10020ACu);
    EXPECT_EQ(X11KeySymbols::forScalar(U'\U0001F600'), 0x101F600u);
    EXPECT_EQ(X11KeySymbols::forScalar(U'\t'), XK_Tab);
    EXPECT_EQ(X11KeySymbols::forScalar(U'\n'), XK_Return);
    EXPECT_EQ(X11KeySymbols::forScalar(U'\r'), XK_Return);
    for (const char32_t control : {0x00, 0x07, 0x1B, 0x1F, 0x7F, 0x85, 0x9F, 0x110000}) {
        EXPECT_EQ(X11KeySymbols::forScalar(control), static_cast<KeySym>(NoSymbol)) << int(control);
    }
}

TEST(X11KeySymbolsTest, UTF16UnitsBecomeScalars) {
    EXPECT_EQ(X11KeySymbols::scalarsOf(u"a\u00E9\U0001F469\u200D\U0001F4BB"),
              (std::u32string{U'a', U'\u00E9', U'\U0001F469', U'\u200D', U'\U0001F4BB'}));
    EXPECT_EQ(X11KeySymbols::scalarsOf(u""), U"");
    // Unpaired surrogates: a lone high one (also at the end) and a lone low one.
    const char16_t broken[] = {0xD83D, u'x', 0xDE00, 0xD83D};
    EXPECT_EQ(X11KeySymbols::scalarsOf(std::u16string_view(broken, 4)), (std::u32string{0xFFFD, U'x', 0xFFFD, 0xFFFD}));
}

} // namespace
