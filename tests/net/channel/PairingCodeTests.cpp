#include "net/channel/PairingCode.h"
#include "net/channel/PairingOffer.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace std::chrono_literals;
using TessaloyNet::PairingCode;
using TessaloyNet::PairingOffer;
using TessaloyNet::PairingOfferRejection;

TEST(PairingCode, IsEightSymbolsOfTheAlphabetInTwoGroups) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const PairingCode code = PairingCode::random();
        ASSERT_EQ(code.symbols().size(), 8u);
        for (const char c : code.symbols()) EXPECT_NE(PairingCode::alphabet.find(c), std::string_view::npos);
        const std::string text = code.formatted();
        ASSERT_EQ(text.size(), 9u);
        EXPECT_EQ(text[4], '-');
        EXPECT_EQ(PairingCode::parse(text), code);
        seen.insert(code.symbols());
    }
    EXPECT_GT(seen.size(), 195u);
}

TEST(PairingCode, ParsingIgnoresDashesAndCase) {
    const auto code = PairingCode::parse("abcd-efgh");
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(code->symbols(), "ABCDEFGH");
    EXPECT_EQ(PairingCode::parse("A-B-C-D-E-F-G-H"), code);
    EXPECT_EQ(PairingCode::parse("ABCD-EFG"), std::nullopt);
    EXPECT_EQ(PairingCode::parse("ABCD-EFGHJ"), std::nullopt);
    EXPECT_EQ(PairingCode::parse("ABCD-EFG1"), std::nullopt) << "1 is not in the alphabet";
    EXPECT_EQ(PairingCode::parse("ABCD-EFGO"), std::nullopt) << "O is not in the alphabet";
}

TEST(PairingOffer, ValidatesInTheOrderUsedAttemptsExpiry) {
    const PairingOffer::Date created{std::chrono::seconds(1'000'000)};
    PairingOffer offer(PairingCode::random(), created);
    EXPECT_NO_THROW(offer.validate(created + 299s));

    offer.attempts = 10;
    offer.consumed = true;
    try {
        offer.validate(created + 400s);
        FAIL();
    } catch (const PairingOffer::Rejection& rejection) {
        EXPECT_EQ(rejection.value(), PairingOfferRejection::alreadyUsed);
    }
    offer.consumed = false;
    try {
        offer.validate(created + 400s);
        FAIL();
    } catch (const PairingOffer::Rejection& rejection) {
        EXPECT_EQ(rejection.value(), PairingOfferRejection::attemptsExhausted);
    }
    offer.attempts = 9;
    try {
        offer.validate(created + 300s);
        FAIL();
    } catch (const PairingOffer::Rejection& rejection) {
        EXPECT_EQ(rejection.value(), PairingOfferRejection::expired);
    }
}

TEST(PairingOffer, EachOfferHasItsOwnSalt) {
    const PairingOffer::Date now{};
    EXPECT_NE(PairingOffer(PairingCode::random(), now).salt, PairingOffer(PairingCode::random(), now).salt);
}

} // namespace
