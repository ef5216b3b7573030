#include "core/UnicodeText.h"

#include <gtest/gtest.h>

namespace {

using TessaloyCore::leadingScalars;
using TessaloyCore::trimmingWhitespace;

TEST(UnicodeText, TrimsOnlyTheEnds) {
    EXPECT_EQ(trimmingWhitespace("  two  words \n"), "two  words");
    EXPECT_EQ(trimmingWhitespace("\u2003\u00A0Bj\u00F6rn\u0085\u3000"), "Bj\u00F6rn");
    EXPECT_EQ(trimmingWhitespace("\u2029 \t\u202F"), "");
    EXPECT_EQ(trimmingWhitespace(""), "");
    // Letters that merely share bytes with white space stay.
    EXPECT_EQ(trimmingWhitespace("\u2100\u3001"), "\u2100\u3001");
    EXPECT_EQ(trimmingWhitespace("\u200B"), "\u200B") << "a zero-width space is not white space";
}

TEST(UnicodeText, CutsAtWholeScalarValues) {
    EXPECT_EQ(leadingScalars("a\u00E9\u540D\U0001F642z", 4), "a\u00E9\u540D\U0001F642");
    EXPECT_EQ(leadingScalars("a\u00E9\u540D\U0001F642z", 3), "a\u00E9\u540D");
    EXPECT_EQ(leadingScalars("abc", 3), "abc");
    EXPECT_EQ(leadingScalars("abc", 0), "");
}

TEST(UnicodeText, CutsBytesAtCharacterBoundaries) {
    EXPECT_EQ(TessaloyCore::leadingBytes("a\u00E9\u540D", 10), "a\u00E9\u540D");
    EXPECT_EQ(TessaloyCore::leadingBytes("a\u00E9\u540D", 5), "a\u00E9");
    EXPECT_EQ(TessaloyCore::leadingBytes("a\u00E9\u540D", 6), "a\u00E9\u540D");
    EXPECT_EQ(TessaloyCore::leadingBytes("\U0001F642", 3), "");
    EXPECT_EQ(TessaloyCore::leadingBytes("", 0), "");
}

} // namespace
