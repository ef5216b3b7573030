#include "platform/linux/LogindPowerAssertion.h"

#include "tests/support/LogindMock.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

namespace {

using Inhibitors = std::vector<Testing::LogindMock::Inhibitor>;

TEST(LogindPowerAssertion, HoldsOneIdleInhibitorUntilReleased) {
    Testing::LogindMock logind;
    Platform::Linux::LogindPowerAssertion assertion;
    ASSERT_EQ(assertion.hold("Plovander is waiting for a paired device"), std::nullopt) << logind.logText();
    ASSERT_EQ(assertion.hold("Plovander is sharing this screen"), std::nullopt);
    EXPECT_TRUE(assertion.isHeld());
    EXPECT_EQ(logind.inhibitors(),
              (Inhibitors{{"idle", "Plovander", "Plovander is waiting for a paired device", "block"}}));

    assertion.release();
    EXPECT_FALSE(assertion.isHeld());
    EXPECT_EQ(logind.inhibitorsOnce([](const Inhibitors& list) { return list.empty(); }), Inhibitors{});
}

TEST(LogindPowerAssertion, WhereNoLogindAnswersNothingIsHeldAndTheCodeIsNegative) {
    Testing::LogindMock logind;
    logind.stopLogind();
    Platform::Linux::LogindPowerAssertion onBusWithoutLogind;
    const auto refused = onBusWithoutLogind.hold("Plovander is sharing this screen");
    ASSERT_TRUE(refused.has_value());
    EXPECT_LT(*refused, 0);
    EXPECT_FALSE(onBusWithoutLogind.isHeld());

    Testing::TemporaryDirectory folder;
    Testing::ScopedEnvironment environment;
    environment.set("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (folder / "no-bus").string());
    Platform::Linux::LogindPowerAssertion withoutBus;
    EXPECT_LT(withoutBus.hold("Plovander is sharing this screen").value_or(0), 0);
    EXPECT_FALSE(withoutBus.isHeld());
}

} // namespace
