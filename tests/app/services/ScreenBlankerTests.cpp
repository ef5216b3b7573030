#include "app/services/ScreenBlanker.h"

#include "tests/support/FakeGamma.h"
#include "tests/support/ManualMainActor.h"

#include <gtest/gtest.h>

namespace {

using Ramps = Platform::Gamma::Ramps;

const Ramps identity{.red = {0.0F, 1.0F}, .green = {0.0F, 1.0F}, .blue = {0.0F, 1.0F}};
const Ramps black{.red = {0.0F, 0.0F}, .green = {0.0F, 0.0F}, .blue = {0.0F, 0.0F}};

TEST(ScreenBlanker, BlacksOutEveryDisplayUntilOffAndCatchesDisplaysAttachedMeanwhile) {
    Testing::ManualMainActor actor;
    Testing::FakeGamma gamma;
    gamma.current = {{1, identity}};
    Plovander::ScreenBlanker blanker(actor, gamma);
    blanker.setBlanking(false);
    EXPECT_EQ(gamma.restores, 0) << "off while off restores nothing";

    blanker.setBlanking(true);
    blanker.setBlanking(true);
    EXPECT_EQ(actor.pendingTimers(), 1u) << "one timer, not two";
    EXPECT_EQ(gamma.current[1], black);
    EXPECT_TRUE(blanker.blacksOutADisplay());

    gamma.current[2] = identity;
    actor.advance(Plovander::ScreenBlanker::reapplyInterval);
    EXPECT_EQ(gamma.current[2], black) << "attached meanwhile, black at the next tick";

    blanker.setBlanking(false);
    EXPECT_EQ(gamma.current, (std::map<std::uint32_t, Ramps>{{1, identity}, {2, identity}}));
    EXPECT_EQ(gamma.restores, 1);
    EXPECT_FALSE(blanker.blacksOutADisplay());
    const auto setsWhenOff = gamma.sets.size();
    actor.advance(std::chrono::seconds(2));
    EXPECT_EQ(gamma.sets.size(), setsWhenOff) << "no tick after off";
}

TEST(ScreenBlanker, WithoutADisplayItBlanksNothingAndSaysSo) {
    Testing::ManualMainActor actor;
    Testing::FakeGamma gamma;
    {
        Plovander::ScreenBlanker blanker(actor, gamma);
        blanker.setBlanking(true);
        EXPECT_TRUE(blanker.isBlanking());
        EXPECT_FALSE(blanker.blacksOutADisplay());
        gamma.current[1] = identity;
        actor.advance(Plovander::ScreenBlanker::reapplyInterval);
        EXPECT_TRUE(blanker.blacksOutADisplay());
    }
    EXPECT_EQ(gamma.current[1], identity) << "going restores";
    actor.advance(std::chrono::seconds(1));
}

} // namespace
