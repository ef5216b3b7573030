#include <gtest/gtest.h>

#include "platform/linux/Edid.h"
#include "tests/support/X11TestDesktop.h"

namespace {

using Platform::Linux::Edid;
using Testing::X11TestDesktop;

std::optional<std::string> nameOf(const std::vector<std::uint8_t>& bytes) { return Edid::monitorName(bytes); }

TEST(Edid, ReadsTheMonitorNameWithoutLineFeedAndPadding) {
    EXPECT_EQ(nameOf(X11TestDesktop::edidNamed("DELL U2720Q")), "DELL U2720Q");
    EXPECT_EQ(nameOf(X11TestDesktop::edidNamed("Thirteen char")), "Thirteen char");
    EXPECT_EQ(nameOf(X11TestDesktop::edidNamed("A")), "A");
}

TEST(Edid, IgnoresExtensionBlocksAfterTheBaseBlock) {
    auto edid = X11TestDesktop::edidNamed("LG HDR 4K");
    edid.resize(256, 0xee);
    EXPECT_EQ(nameOf(edid), "LG HDR 4K");
}

TEST(Edid, TakesTheFirstNameDescriptorInAnyPosition) {
    auto edid = X11TestDesktop::edidNamed("Second");
    // Move the name to the last descriptor and put another name after nothing: the first wins.
    std::copy(edid.begin() + 72, edid.begin() + 90, edid.begin() + 108);
    std::fill(edid.begin() + 72, edid.begin() + 90, 0);
    edid[72 + 3] = 0x10;
    X11TestDesktop::fixEdidChecksum(edid);
    EXPECT_EQ(nameOf(edid), "Second");

    auto both = X11TestDesktop::edidNamed("First");
    const auto other = X11TestDesktop::edidNamed("Other");
    std::copy(other.begin() + 72, other.begin() + 90, both.begin() + 90);
    X11TestDesktop::fixEdidChecksum(both);
    EXPECT_EQ(nameOf(both), "First");
}

TEST(Edid, ATimingDescriptorIsNeverReadAsAName) {
    auto edid = X11TestDesktop::edidNamed("Hidden");
    // A non-zero pixel clock makes the block a detailed timing even with the name tag inside.
    edid[72] = 0x01;
    X11TestDesktop::fixEdidChecksum(edid);
    EXPECT_EQ(nameOf(edid), std::nullopt);
}

TEST(Edid, RejectsEveryTruncation) {
    const auto edid = X11TestDesktop::edidNamed("Monitor");
    for (std::size_t length = 0; length < Edid::baseBlockSize; ++length) {
        EXPECT_EQ(Edid::monitorName(std::span(edid).first(length)), std::nullopt) << length;
    }
}

TEST(Edid, RejectsABadHeaderOrChecksum) {
    auto badHeader = X11TestDesktop::edidNamed("Monitor");
    badHeader[0] = 0x01;
    X11TestDesktop::fixEdidChecksum(badHeader);
    EXPECT_EQ(nameOf(badHeader), std::nullopt);

    auto badChecksum = X11TestDesktop::edidNamed("Monitor");
    badChecksum[127] = static_cast<std::uint8_t>(badChecksum[127] + 1);
    EXPECT_EQ(nameOf(badChecksum), std::nullopt);
}

TEST(Edid, RejectsEmptyAndUnprintableNames) {
    EXPECT_EQ(nameOf(X11TestDesktop::edidNamed("")), std::nullopt);
    EXPECT_EQ(nameOf(X11TestDesktop::edidNamed("   ")), std::nullopt);

    auto control = X11TestDesktop::edidNamed("Bad");
    control[72 + 6] = 0x07;
    X11TestDesktop::fixEdidChecksum(control);
    EXPECT_EQ(nameOf(control), std::nullopt);

    auto high = X11TestDesktop::edidNamed("Bad");
    high[72 + 6] = 0xe9;
    X11TestDesktop::fixEdidChecksum(high);
    EXPECT_EQ(nameOf(high), std::nullopt);
}

TEST(Edid, ANameWithoutLineFeedUsesAllThirteenCharacters) {
    auto edid = X11TestDesktop::edidNamed("ABCDEFGHIJKLM");
    EXPECT_EQ(nameOf(edid), "ABCDEFGHIJKLM");
}

} // namespace
