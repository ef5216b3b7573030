#include "net/channel/PairingLink.h"
#include "net/channel/PairingOffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using TessaloyCore::Bytes;
using TessaloyNet::PairingCode;
using TessaloyNet::PairingLink;

const PairingCode code = *PairingCode::parse("7KXQ-2MPA");
// Chosen so that the URL-safe alphabet shows: standard base64 would be "+/v7...".
const Bytes salt = {0xFB, 0xFF, 0xFB, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0xFF};

TEST(PairingLink, PairUrlCarriesTheSymbolsAndTheUnpaddedUrlSafeSalt) {
    EXPECT_EQ(PairingLink::url(code, salt), "plovander://pair?c=7KXQ2MPA&s=-__7AAECAwQFBgcICQoL_w");
}

TEST(PairingLink, ConnectUrlNamesTheMac) {
    EXPECT_EQ(PairingLink::connectURL("698bea63dc44a344"), "plovander://connect?mac=698bea63dc44a344");
}

TEST(PairingLink, ParsesWhatItMakes) {
    for (int i = 0; i < 20; ++i) {
        const TessaloyNet::PairingOffer offer(PairingCode::random(), {});
        const auto parsed = PairingLink::parse(PairingLink::url(offer.code, offer.salt));
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(parsed->code, offer.code);
        EXPECT_EQ(parsed->salt, offer.salt);
    }
}

TEST(PairingLink, ParsingToleratesCaseOrderAndOtherItems) {
    const PairingLink::Pairing expected{code, salt};
    EXPECT_EQ(PairingLink::parse("PLOVANDER://Pair?s=-__7AAECAwQFBgcICQoL_w&c=7kxq-2mpa"), expected);
    EXPECT_EQ(PairingLink::parse("plovander://pair?v=2&c=7KXQ2MPA&flag&s=-__7AAECAwQFBgcICQoL_w"), expected);
}

TEST(PairingLink, ParsingRefusesAnythingElse) {
    const std::string s = "s=-__7AAECAwQFBgcICQoL_w";
    const std::vector<std::string> refused = {
        "",
        "plovander://pair",
        "plovander://pair?c=7KXQ2MPA",
        "plovander://pair?" + s,
        "https://pair?c=7KXQ2MPA&" + s,
        "plovander:pair?c=7KXQ2MPA&" + s,
        "plovander://connect?c=7KXQ2MPA&" + s,
        "plovander://pairing?c=7KXQ2MPA&" + s,
        "plovander://pair?c=7KXQ2MP&" + s,
        "plovander://pair?c=7KXQ2MP1&" + s,
        "plovander://pair?c=7KXQ2MPA&c=7KXQ2MPA&" + s,
        "plovander://pair?c=7KXQ2MPA&" + s + "&" + s,
        "plovander://pair?c=7KXQ2MPA&s=-__7AAECAwQFBgcICQoL",
        "plovander://pair?c=7KXQ2MPA&s=-__7AAECAwQFBgcICQoL_wA",
        "plovander://pair?c=7KXQ2MPA&s=-__7AAECAwQFBgcICQoL_w==",
        "plovander://pair?c=7KXQ2MPA&s=+//7AAECAwQFBgcICQoL/w",
        "plovander://pair?c=7KXQ2MPA&s=-__7AAECAwQFBgcICQoL_*",
    };
    for (const std::string& url : refused) {
        EXPECT_EQ(PairingLink::parse(url), std::nullopt) << url;
    }
}

} // namespace
