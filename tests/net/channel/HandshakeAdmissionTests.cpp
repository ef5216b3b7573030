#include "net/channel/HandshakeAdmission.h"

#include <gtest/gtest.h>

namespace {

using TessaloyNet::HandshakeAdmission;

HandshakeAdmission::Host host(const char* address) {
    return HandshakeAdmission::hostOf(asio::ip::make_address(address));
}

TEST(HandshakeAdmission, CountsLoopbackConnectionsOneByOne) {
    EXPECT_EQ(host("127.0.0.1"), std::nullopt);
    EXPECT_EQ(host("::1"), std::nullopt);
    EXPECT_EQ(host("::ffff:127.0.0.1"), std::nullopt);
    EXPECT_EQ(host("::ffff:192.168.1.4"), "192.168.1.4");
    EXPECT_EQ(host("127.0.0.2"), "127.0.0.2");
    EXPECT_EQ(host("fe80::1"), "fe80::1");
}

TEST(HandshakeAdmission, AdmitsSixteenInAllAndFourPerHost) {
    HandshakeAdmission admission({.total = 16, .perHost = 4});
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(admission.admit(host("10.0.0.1")));
    EXPECT_FALSE(admission.admit(host("10.0.0.1")));
    EXPECT_EQ(admission.pending(), 4);
    for (int i = 0; i < 12; ++i) ASSERT_TRUE(admission.admit(host("127.0.0.1"))) << i;
    EXPECT_FALSE(admission.admit(host("127.0.0.1")));
    EXPECT_FALSE(admission.admit(host("10.0.0.2")));
    admission.release(host("10.0.0.1"));
    EXPECT_EQ(admission.pending(), 15);
    EXPECT_TRUE(admission.admit(host("10.0.0.1")));
    EXPECT_FALSE(admission.admit(host("10.0.0.2")));
    admission.release(host("::1"));
    admission.release(host("10.0.0.1"));
    EXPECT_TRUE(admission.admit(host("10.0.0.2")));
    EXPECT_TRUE(admission.admit(host("10.0.0.1")));
    EXPECT_FALSE(admission.admit(host("10.0.0.3")));
}

} // namespace
