#include "core/ByteReader.h"
#include "core/TransferCancelReason.h"
#include "core/TransferOffer.h"
#include "core/TransferPurpose.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using namespace TessaloyCore;

std::string safeName(std::string name) {
    return TransferOffer{1, TransferPurpose::file, std::move(name), "", 0}.safeFileName();
}

void expectUsable(const std::string& safe) {
    EXPECT_FALSE(safe.empty());
    EXPECT_LE(safe.size(), 200u);
    EXPECT_TRUE(isValidUtf8(safe)) << safe;
    EXPECT_EQ(safe.find('/'), std::string::npos) << safe;
    EXPECT_EQ(safe.find('\0'), std::string::npos);
    EXPECT_NE(safe, ".");
    EXPECT_NE(safe, "..");
    EXPECT_NE(safe.front(), '.');
    EXPECT_NE(safe.front(), '-');
    EXPECT_NE(safe.front(), ' ');
}

TEST(TransferPurpose, WireBytesNamesAndMaximumSizes) {
    EXPECT_EQ(transferPurposeFromByte(1), TransferPurpose::clipboard);
    EXPECT_EQ(transferPurposeFromByte(2), TransferPurpose::file);
    EXPECT_EQ(transferPurposeFromByte(0), std::nullopt);
    EXPECT_EQ(transferPurposeFromByte(3), std::nullopt);
    EXPECT_STREQ(nameOf(TransferPurpose::clipboard), "clipboard");
    EXPECT_STREQ(nameOf(TransferPurpose::file), "file");
    EXPECT_EQ(maximumSize(TransferPurpose::clipboard), 26'214'400u);
    EXPECT_EQ(maximumSize(TransferPurpose::file), 1'073'741'824u);
}

TEST(TransferCancelReason, WireBytesAndNames) {
    EXPECT_EQ(transferCancelReasonFromByte(0), std::nullopt);
    EXPECT_EQ(transferCancelReasonFromByte(1), TransferCancelReason::cancelled);
    EXPECT_EQ(transferCancelReasonFromByte(2), TransferCancelReason::notAllowed);
    EXPECT_EQ(transferCancelReasonFromByte(3), TransferCancelReason::tooLarge);
    EXPECT_EQ(transferCancelReasonFromByte(4), TransferCancelReason::failed);
    EXPECT_EQ(transferCancelReasonFromByte(5), std::nullopt);
    EXPECT_STREQ(nameOf(TransferCancelReason::cancelled), "cancelled");
    EXPECT_STREQ(nameOf(TransferCancelReason::notAllowed), "notAllowed");
    EXPECT_STREQ(nameOf(TransferCancelReason::tooLarge), "tooLarge");
    EXPECT_STREQ(nameOf(TransferCancelReason::failed), "failed");
}

TEST(TransferOfferSafeFileName, KeepsOrdinaryNames) {
    EXPECT_EQ(safeName("report.pdf"), "report.pdf");
    EXPECT_EQ(safeName("my..notes - final.txt"), "my..notes - final.txt");
    EXPECT_EQ(safeName("Grüße 日本 😀.txt"), "Grüße 日本 😀.txt");
}

TEST(TransferOfferSafeFileName, PathsCannotEscapeTheFolder) {
    EXPECT_EQ(safeName("../../etc/passwd"), "etcpasswd");
    EXPECT_EQ(safeName("/abs/path"), "abspath");
    EXPECT_EQ(safeName("C:\\x"), "Cx");
    EXPECT_EQ(safeName("..\\..\\boot.ini"), "boot.ini");
    EXPECT_EQ(safeName("\xC0\xAF"
                       "etc"),
              "\uFFFD\uFFFD"
              "etc")
        << "an overlong slash is not a slash";
}

TEST(TransferOfferSafeFileName, LeadingDotsDashesAndBlanksGoTrailingBlanksToo) {
    EXPECT_EQ(safeName("  .-hidden"), "hidden");
    EXPECT_EQ(safeName(".bashrc"), "bashrc");
    EXPECT_EQ(safeName("-rf"), "rf");
    EXPECT_EQ(safeName("report.pdf \u3000 "), "report.pdf");
    EXPECT_EQ(safeName("\u00A0. name . "), "name .");
}

TEST(TransferOfferSafeFileName, RemovesControlCharacters) {
    EXPECT_EQ(safeName("a\x01"
                       "b\tc\nd\x7F e\u0085f\u009F"),
              "abcd ef");
    EXPECT_EQ(safeName(std::string("x\0y", 3)), "xy");
}

TEST(TransferOfferSafeFileName, RemovesBidirectionalFormatting) {
    EXPECT_EQ(safeName("evil\u202Egpj.exe"), "evilgpj.exe");
    EXPECT_EQ(safeName("\u202A\u202B\u202C\u202Da\u202E\u2066\u2067\u2068\u2069\u200E\u200Fb"), "ab");
}

TEST(TransferOfferSafeFileName, NothingUsableBecomesReceivedFile) {
    for (const std::string name : {"", ".", "..", "....", " - . ", "///", "\u202E\u202E", "\x01\x02"}) {
        EXPECT_EQ(safeName(name), "Received file") << name;
    }
}

TEST(TransferOfferSafeFileName, InvalidUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(safeName("a\xFF"
                       "b\xC3"),
              "a\uFFFD"
              "b\uFFFD");
    EXPECT_EQ(safeName("\xED\xA0\x80.txt"), "\uFFFD\uFFFD\uFFFD.txt") << "a surrogate is invalid";
}

TEST(TransferOfferSafeFileName, CutsWholeCharactersDownTo200Bytes) {
    EXPECT_EQ(safeName(std::string(200, 'a')), std::string(200, 'a'));
    EXPECT_EQ(safeName(std::string(201, 'a')), std::string(200, 'a'));

    std::string euros = std::string(199, 'a');
    while (euros.size() < 300) euros += "€";
    EXPECT_EQ(safeName(euros), std::string(199, 'a'));

    std::string emoji = std::string(198, 'b');
    while (emoji.size() < 300) emoji += "😀";
    EXPECT_EQ(safeName(emoji), std::string(198, 'b'));

    std::string accents;
    while (accents.size() < 300) accents += "é";
    std::string expected;
    for (int i = 0; i < 100; ++i) expected += "é";
    EXPECT_EQ(safeName(accents), expected);

    for (std::size_t lead = 0; lead < 4; ++lead) {
        std::string mixed(lead, 'c');
        while (mixed.size() < 300) mixed += "日😀é";
        const std::string safe = safeName(mixed);
        expectUsable(safe);
        EXPECT_GE(safe.size(), 197u);
        EXPECT_EQ(mixed.compare(0, safe.size(), safe), 0) << "a prefix of the name";
    }
}

TEST(TransferOfferSafeFileName, ArbitraryBytesGiveAUsableName) {
    std::mt19937 random(20'260'101);
    const std::string alphabet =
        "./\\:- \t\x7F"
        "ab\xC3\xA9\xE2\x80\xAE\xF0\x9F\x98\x80\xFF\x80";
    for (int round = 0; round < 2'000; ++round) {
        std::string name;
        const std::size_t length = random() % 320;
        for (std::size_t i = 0; i < length; ++i) {
            name.push_back(round % 2 == 0 ? alphabet[random() % alphabet.size()] : static_cast<char>(random()));
        }
        expectUsable(safeName(name));
    }
}

} // namespace
