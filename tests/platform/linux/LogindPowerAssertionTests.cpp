#include "platform/linux/LogindPowerAssertion.h"

#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

namespace {

// With no system bus to ask, nothing is held and the bus's own words say why.
TEST(LogindPowerAssertion, WithoutASystemBusNothingIsHeldAndTheReasonIsGiven) {
    Testing::TemporaryDirectory folder;
    Testing::ScopedEnvironment environment;
    environment.set("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (folder / "no-bus").string());
    Platform::Linux::LogindPowerAssertion assertion;
    const std::optional<std::string> refusal = assertion.hold("Plovander is sharing this screen");
    ASSERT_TRUE(refusal.has_value());
    EXPECT_FALSE(refusal->empty());
    EXPECT_FALSE(assertion.isHeld());
    assertion.release();
    EXPECT_FALSE(assertion.isHeld());
}

} // namespace
