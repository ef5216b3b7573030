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
    // sharing, pending, code, paired, accepting, listening, problem
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
    };
    for (const StatusCase& c : cases) EXPECT_EQ(menuStatus(c.inputs), c.expected) << c.what;
}

TEST(MenuStatus, WordsColoursAndTheSwitches) {
    struct Row {
        MenuStatus status;
        const char* text;
        Tint tint;
        bool switches;
    };
    const Row rows[] = {
        {MenuStatus::connected, "Connected", Tint::green, true},
        {MenuStatus::needsApproval, "Needs approval", Tint::orange, false},
        {MenuStatus::pairing, "Pairing", Tint::accent, false},
        {MenuStatus::available, "Available", Tint::accent, true},
        {MenuStatus::starting, "Starting", Tint::accent, true},
        {MenuStatus::needsAttention, "Needs attention", Tint::orange, true},
        {MenuStatus::notAvailable, "Not available", Tint::secondary, true},
        {MenuStatus::setUp, "Set up", Tint::secondary, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(statusText(row.status), QString::fromUtf8(row.text));
        EXPECT_EQ(statusTint(row.status), row.tint) << row.text;
        EXPECT_EQ(showsAvailability(row.status), row.switches) << row.text;
    }
}

} // namespace
} // namespace Plovander
