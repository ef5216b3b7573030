#include "app/ui/decisions/MenuStatus.h"

#include <gtest/gtest.h>

namespace Plovander {
namespace {

struct StatusCase {
    const char* what;
    MenuStatusInputs inputs;
    MenuStatus expected;
};

TEST(MenuStatus, FirstRuleThatHoldsWins) {
    // sharing, pending, code, paired, accepting, listening, problem, held by the user's stop
    const StatusCase cases[] = {
        {"a device connected while another asks", {true, true, true, true, true, true, true}, MenuStatus::connected},
        {"a device waiting", {false, true, true, true, false, false, false}, MenuStatus::needsApproval},
        {"a code before the empty list", {false, false, true, false, false, false, false}, MenuStatus::pairing},
        {"nothing paired", {false, false, false, false, true, true, true}, MenuStatus::setUp},
        {"accepting before the problem", {false, false, false, true, true, true, true}, MenuStatus::available},
        {"a problem while listening", {false, false, false, true, false, true, true}, MenuStatus::needsAttention},
        {"listening, not yet accepting", {false, false, false, true, false, true, false}, MenuStatus::starting},
        {"a problem while availability is off",
         {false, false, false, true, false, false, true},
         MenuStatus::notAvailable},
        {"listening held off by the user's stop",
         {false, false, false, true, false, true, false, true},
         MenuStatus::notAvailable},
        {"a problem while held off", {false, false, false, true, false, true, true, true}, MenuStatus::needsAttention},
    };
    for (const StatusCase& c : cases) EXPECT_EQ(menuStatus(c.inputs), c.expected) << c.what;
}

// The availability switches stay hidden while a pairing or approval needs the panel.
TEST(MenuStatus, TheSwitchesShowOutsidePairing) {
    const std::pair<MenuStatus, bool> rows[] = {
        {MenuStatus::connected, true},    {MenuStatus::needsApproval, false}, {MenuStatus::pairing, false},
        {MenuStatus::available, true},    {MenuStatus::starting, true},       {MenuStatus::needsAttention, true},
        {MenuStatus::notAvailable, true}, {MenuStatus::setUp, false},
    };
    for (const auto& [status, switches] : rows)
        EXPECT_EQ(showsAvailability(status), switches) << statusText(status).toStdString();
}

} // namespace
} // namespace Plovander
