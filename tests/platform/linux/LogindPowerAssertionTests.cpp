#include "platform/linux/LogindPowerAssertion.h"

#include "tests/support/LogindMock.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SilentBus.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using namespace std::chrono_literals;
using Inhibitors = std::vector<Testing::LogindMock::Inhibitor>;
using Held = std::unique_ptr<Platform::PowerAssertion::Held>;

constexpr const char* sharing = "Plovander is sharing this screen";

int codeOf(const Platform::PowerAssertion::Taken& taken) {
    const int* code = std::get_if<int>(&taken);
    return code ? *code : 0;
}

TEST(LogindPowerAssertion, HoldsAnIdleInhibitorUntilLetGo) {
    Testing::LogindMock logind;
    Platform::Linux::LogindPowerAssertion assertion;
    auto taken = assertion.take("Plovander is waiting for a paired device", {});
    ASSERT_TRUE(std::holds_alternative<Held>(taken)) << codeOf(taken) << " " << logind.logText();
    EXPECT_EQ(logind.inhibitors(),
              (Inhibitors{{"idle", "Plovander", "Plovander is waiting for a paired device", "block"}}));

    std::get<Held>(taken).reset();
    EXPECT_EQ(logind.inhibitorsOnce([](const Inhibitors& list) { return list.empty(); }), Inhibitors{});
}

TEST(LogindPowerAssertion, WhereNoLogindAnswersNothingIsHeldAndTheCodeIsNegative) {
    Testing::LogindMock logind;
    logind.stopLogind();
    EXPECT_LT(codeOf(Platform::Linux::LogindPowerAssertion().take(sharing, {})), 0);

    Testing::TemporaryDirectory folder;
    Testing::ScopedEnvironment environment;
    environment.set("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (folder / "no-bus").string());
    EXPECT_EQ(codeOf(Platform::Linux::LogindPowerAssertion().take(sharing, {})), -ENOENT);
}

TEST(LogindPowerAssertion, ABusThatNeverAnswersIsGivenUpAfterThePatienceOrOnAStop) {
    Testing::SilentBus bus;
    Testing::ScopedEnvironment environment;
    environment.set("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
    EXPECT_EQ(codeOf(Platform::Linux::LogindPowerAssertion(200ms).take(sharing, {})), -ETIMEDOUT);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(codeOf(Platform::Linux::LogindPowerAssertion().take(sharing, stop.get_token())), -ECANCELED);
}

} // namespace
