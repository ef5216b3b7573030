#include "net/channel/LANClientBrowser.h"
#include "tests/support/ProblemOf.h"

#include <gtest/gtest.h>

namespace {

using Host = TessaloyNet::LANClientBrowser::DiscoveredHost;
using Problem = Host::AddressProblem;

Host read(std::string_view text) { return Host(text, 55801, "Mac"); }

TEST(DiscoveredHost, ReadsHostAndPortBracketedIPv6AndBareHosts) {
    EXPECT_EQ(read("192.168.1.20:6000"), (Host{"192.168.1.20", 6000, "Mac"}));
    EXPECT_EQ(read("studio.local:1"), (Host{"studio.local", 1, "Mac"}));
    EXPECT_EQ(read("[fe80::1%en0]:65535"), (Host{"fe80::1%en0", 65535, "Mac"}));
    EXPECT_EQ(read("[::1]"), (Host{"::1", 55801, "Mac"}));
    EXPECT_EQ(read("fd00::12:34"), (Host{"fd00::12:34", 55801, "Mac"}));
    EXPECT_EQ(read("studio.local"), (Host{"studio.local", 55801, "Mac"}));
    EXPECT_EQ(read("  10.0.0.2:7000\n"), (Host{"10.0.0.2", 7000, "Mac"}));
}

TEST(DiscoveredHost, RefusesEmptyTextsAndBadPorts) {
    const auto problem = [](std::string_view text) {
        return Testing::problemOf<Host::AddressError>([&] { read(text); });
    };
    EXPECT_EQ(problem(""), Problem::empty);
    EXPECT_EQ(problem("  "), Problem::empty);
    EXPECT_EQ(problem(":6000"), Problem::empty);
    EXPECT_EQ(problem("[]:6000"), Problem::empty);
    EXPECT_EQ(problem("[::1"), Problem::empty);
    EXPECT_EQ(problem("host:"), Problem::invalidPort);
    EXPECT_EQ(problem("host:0"), Problem::invalidPort);
    EXPECT_EQ(problem("host:65536"), Problem::invalidPort);
    EXPECT_EQ(problem("host:-1"), Problem::invalidPort);
    EXPECT_EQ(problem("host:12ab"), Problem::invalidPort);
    EXPECT_EQ(problem("host: 80"), Problem::invalidPort);
    EXPECT_EQ(problem("[::1]6000"), Problem::invalidPort);
    EXPECT_EQ(problem("[::1]:x"), Problem::invalidPort);
    EXPECT_STREQ(Host::AddressError(Problem::invalidPort).caseName(), "invalidPort");
}

} // namespace
