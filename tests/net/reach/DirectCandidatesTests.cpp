#include "net/reach/DirectCandidates.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyNet;

TEST(DirectCandidates, PublishesOnlyGlobalUnicastAddresses) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"2a01:4f8::1", true},
        {"3fff::1", true},  // inside 2000::/3: only 2001:db8::/32 is refused as documentation
        {"::2abc:1", true}, // judged by its first written group
        {"2001:db8::1", false},
        {"2001:DB8:0:1::2", false},
        {"fe80::1%en0", false},
        {"fd7a:115c:a1e0::1", false},
        {"::1", false},
        {"ff02::1", false},
        {"::ffff:192.0.2.1", false},
        {"12345::1", false},
        {"", false},
        {":::", false},
    };
    for (const auto& [address, publishable] : cases) {
        EXPECT_EQ(DirectCandidates::isPublishable(address), publishable) << address;
    }
}

TEST(DirectCandidates, JoinsThePortKeepsTheFirstOfEachAndAtMostEight) {
    EXPECT_EQ(DirectCandidates::choose({"fe80::1", "2a01:4f8::1", "2a01:4f8::1", "10.0.0.1"}, 55801),
              std::vector<std::string>{"[2a01:4f8::1]:55801"});
    std::vector<std::string> ten;
    for (int index = 0; index < 10; ++index) ten.push_back("2a01:4f8::" + std::to_string(index + 1));
    const auto chosen = DirectCandidates::choose(ten, 1);
    ASSERT_EQ(chosen.size(), DirectCandidates::maximumCount);
    EXPECT_EQ(chosen.back(), "[2a01:4f8::8]:1");
}

} // namespace
