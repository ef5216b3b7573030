#include "net/channel/HandshakeAdmission.h"

#include <gtest/gtest.h>

namespace {

using TessaloyNet::HandshakeAdmission;
using Ticket = HandshakeAdmission::Ticket;
using Tickets = std::vector<Ticket>;

HandshakeAdmission::Host host(const char* address) {
    return HandshakeAdmission::hostOf(asio::ip::make_address(address));
}

TEST(HandshakeAdmission, CountsIPv4ByAddressAndIPv6ByItsSlash64) {
    EXPECT_EQ(host("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(host("::ffff:127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(host("::ffff:192.168.1.4"), "192.168.1.4");
    EXPECT_EQ(host("::1"), host("::2"));
    EXPECT_EQ(host("2001:db8:1:2:aaaa::1"), host("2001:db8:1:2:bbbb:cccc:dddd:eeee"));
    EXPECT_NE(host("2001:db8:1:2::1"), host("2001:db8:1:3::1"));
    EXPECT_NE(host("fe80::1"), host("::1"));
}

// Each row admits one connection (tickets count up from 1) after the earlier rows, and says which
// pending one is closed for it.
struct Step {
    const char* from;
    std::optional<Ticket> evicted;
    std::optional<Ticket> spoke = std::nullopt; // before admitting
    std::optional<Ticket> released = std::nullopt;
};

TEST(HandshakeAdmission, ClosesTheOldestSilentOneInTheFullScopeInsteadOfTheNewcomer) {
    HandshakeAdmission admission({.total = 6, .perHost = 3});
    const std::vector<Step> steps{
        {"10.0.0.1", {}},
        {"10.0.0.1", {}},
        {"10.0.0.1", {}},
        // Host full: its oldest goes.
        {"10.0.0.1", 1},
        // The oldest silent one of the host goes.
        {"10.0.0.1", 3, 2},
        {"10.0.0.2", {}},
        {"10.0.0.2", {}},
        {"10.0.0.3", {}},
        // All full: the oldest silent one of any host goes.
        {"10.0.0.4", 4},
        {"10.0.0.1", 6, 5},
        // Host full and all of it has spoken: its oldest goes.
        {"10.0.0.1", 2, 10},
        {"10.0.0.2", 7},
        // A released place is free again.
        {"10.0.0.4", {}, std::nullopt, 9},
    };
    Ticket ticket = 0;
    for (const Step& step : steps) {
        ++ticket;
        if (step.spoke) admission.spoke(*step.spoke);
        if (step.released) admission.release(*step.released);
        EXPECT_EQ(admission.admit(ticket, host(step.from)), step.evicted) << "ticket " << ticket;
        EXPECT_LE(admission.pending(), 6);
    }
    EXPECT_EQ(admission.pending(), 6);
    for (Ticket i = 1; i <= ticket; ++i) admission.release(i);
    EXPECT_EQ(admission.pending(), 0);
}

} // namespace
