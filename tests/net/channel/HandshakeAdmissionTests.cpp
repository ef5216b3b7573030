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

// Each row does one thing after the earlier rows: a newcomer connects from a host (tickets count up
// from 1), a pending one sends its first bytes, its peer is heard from again, or one ends; and says
// which pending one admission closes to make room.
struct Step {
    const char* connectsFrom = nullptr;
    std::optional<Ticket> speaks = std::nullopt;
    std::optional<Ticket> hears = std::nullopt;
    std::optional<Ticket> ends = std::nullopt;
    std::optional<Ticket> closed = std::nullopt;
};

TEST(HandshakeAdmission, ClosesTheQuietestOfTheSameKindInTheFullScopeInsteadOfTheNewcomer) {
    HandshakeAdmission admission({.total = 3, .perHost = 2, .silentTotal = 4, .silentPerHost = 3});
    const std::vector<Step> steps{
        {.connectsFrom = "10.0.0.1"},
        {.connectsFrom = "10.0.0.1"},
        {.connectsFrom = "10.0.0.1"},
        // The host's silent places are taken: its oldest silent one goes.
        {.connectsFrom = "10.0.0.1", .closed = 1},
        {.speaks = 2},
        {.connectsFrom = "10.0.0.1"},
        {.connectsFrom = "10.0.0.2"},
        // All silent places are taken: the oldest silent one of any host goes, never the older
        // handshake under way.
        {.connectsFrom = "10.0.0.3", .closed = 3},
        {.speaks = 4},
        // The host has two handshakes under way: its oldest goes.
        {.speaks = 5, .closed = 2},
        {.speaks = 6},
        // Three under way in all: the oldest of any host goes.
        {.speaks = 7, .closed = 4},
        // Speaking twice, or when no longer pending, changes nothing.
        {.speaks = 7},
        {.speaks = 1},
        // An ended one frees its place.
        {.ends = 7},
        {.connectsFrom = "10.0.0.4"},
        {.speaks = 8},
        // Heard from again, 5 is no longer the quietest.
        {.hears = 5},
        {.connectsFrom = "10.0.0.5"},
        {.speaks = 9, .closed = 6},
    };
    Ticket next = 1;
    for (std::size_t row = 0; row < steps.size(); ++row) {
        const Step& step = steps[row];
        std::optional<Ticket> closed;
        if (step.connectsFrom) closed = admission.admit(next++, host(step.connectsFrom));
        if (step.speaks) closed = admission.spoke(*step.speaks);
        if (step.hears) admission.heard(*step.hears);
        if (step.ends) admission.release(*step.ends);
        EXPECT_EQ(closed, step.closed) << "row " << row;
    }
    EXPECT_EQ(admission.pending(), 3);
    for (Ticket ticket = 1; ticket < next; ++ticket) admission.release(ticket);
    EXPECT_EQ(admission.pending(), 0);
}

} // namespace
