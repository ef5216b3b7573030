#include "net/reach/TailscaleAddress.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyNet;

TEST(TailscaleAddress, RecognisesTheOverlayRanges) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"100.64.0.1", true},
        {"100.127.255.255", true},
        {" 100.100.1.2:55801\n", true},
        {"100.63.255.255", false},
        {"100.128.0.1", false},
        {"101.64.0.1", false},
        {"100.64.0", false},
        {"100.64..1", false},
        {"100.64.0.256", false},
        {"[FD7A:115C:A1E0::1]:55802", true},
        {"fd7a:115c:a1e0::1", true},
        {"fd7a:115c:a1e1::1", false},
        {"fd7a:115c:a1e0", false},
        {"mac.local", false},
    };
    for (const auto& [text, overlay] : cases) EXPECT_EQ(TailscaleAddress::isTailscale(text), overlay) << text;
}

TEST(TailscaleAddress, TheHostPartDropsBracketsAndPort) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"host:80", "host"}, {"::1", "::1"}, {"[::1", "[::1"}, {"[fd7a::1]:9", "fd7a::1"}, {"[::1]", "::1"},
    };
    for (const auto& [text, host] : cases) EXPECT_EQ(TailscaleAddress::hostPart(text), host) << text;
}

} // namespace
