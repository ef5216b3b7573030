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
    // Letters and digits are not in alphabetical order, nor are the function keys.
    EXPECT_EQ(X11KeySymbols::forKeyCode(0), XK_a);
    EXPECT_EQ(X11KeySymbols::forKeyCode(6), XK_z);
    EXPECT_EQ(X11KeySymbols::forKeyCode(9), XK_v);
    EXPECT_EQ(X11KeySymbols::forKeyCode(22), XK_6);
    EXPECT_EQ(X11KeySymbols::forKeyCode(23), XK_5);
    EXPECT_EQ(X11KeySymbols::forKeyCode(51), XK_BackSpace);
    EXPECT_EQ(X11KeySymbols::forKeyCode(117), XK_Delete);
    EXPECT_EQ(X11KeySymbols::forKeyCode(122), XK_F1);
    EXPECT_EQ(X11KeySymbols::forKeyCode(120), XK_F2);
    EXPECT_EQ(X11KeySymbols::forKeyCode(111), XK_F12);
    EXPECT_EQ(X11KeySymbols::forKeyCode(126), XK_Up);
}

TEST(X11KeySymbolsTest, CommandIsControlAndOptionIsAlt) {
    EXPECT_EQ(X11KeySymbols::forKeyCode(55), XK_Control_L);
    EXPECT_EQ(X11KeySymbols::forKeyCode(54), XK_Control_R);
    EXPECT_EQ(X11KeySymbols::forKeyCode(58), XK_Alt_L);
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
    EXPECT_EQ(X11KeySymbols::forScalar(U'~'), XK_asciitilde);
    EXPECT_EQ(X11KeySymbols::forScalar(U'\u00E9'), XK_eacute);
    EXPECT_EQ(X11KeySymbols::forScalar(U'\u0100'), 0x1000100u);
    EXPECT_EQ(X11KeySymbols::forScalar(U'\U0001F600'), 0x101F600u);
    EXPECT_EQ(X11KeySymbols::forScalar(U'\t'), XK_Tab);
    EXPECT_EQ(X11KeySymbols::forScalar(U'\n'), XK_Return);
    EXPECT_EQ(X11KeySymbols::forScalar(U'\r'), XK_Return);
    for (const char32_t control : {0x00, 0x1F, 0x7F, 0x9F, 0x110000}) {
        EXPECT_EQ(X11KeySymbols::forScalar(control), static_cast<KeySym>(NoSymbol)) << int(control);
    }
    EXPECT_EQ(X11KeySymbols::forScalar(0xA0), XK_nobreakspace);
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
