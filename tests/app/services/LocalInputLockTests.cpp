#include "app/services/LocalInputLock.h"

#include "app/trace/TraceLog.h"
#include "tests/support/FakeInputLock.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

class LocalInputLockTest : public ::testing::Test {
protected:
    LocalInputLockTest() {
        Plovander::TraceLog::configure({.enabled = true, .file = trace(), .toStandardError = false});
    }
    ~LocalInputLockTest() override { Plovander::TraceLog::configure({}); }

    std::filesystem::path trace() const { return folder / "trace.log"; }
    // The trace so far, without the time stamps.
    std::string traceText() {
        Plovander::TraceLog::flush();
        std::ifstream in(trace());
        std::string text;
        for (std::string line; std::getline(in, line);) text += line.substr(line.find("local input lock")) + "\n";
        return text;
    }

    Testing::TemporaryDirectory folder;
    Testing::FakeInputLock platform;
};

TEST_F(LocalInputLockTest, BothLayersRefusedLeaveItUnlockedAndSaySo) {
    platform.refusals = {"no access", "no XInput"};
    {
        Plovander::LocalInputLock lock(platform);
        lock.lock();
        EXPECT_FALSE(lock.isLocked());
        lock.unlock();
    }
    EXPECT_EQ(traceText(),
              "local input lock: tap 0 was refused\nlocal input lock: tap 1 was refused\n"
              "local input lock: 0 taps, enabled []\n");
}

TEST_F(LocalInputLockTest, UnlockingTracesWhatWasDroppedAndPassedOnce) {
    platform.refusals = {"no access", std::nullopt};
    int escapes = 0;
    Plovander::LocalInputLock lock(platform);
    lock.onEscape = [&] { ++escapes; };
    lock.lock();
    ASSERT_TRUE(lock.isLocked());
    platform.counted = {.dropped = {0, 12}, .passed = 7};
    ASSERT_TRUE(platform.pressEscapeChord());
    EXPECT_EQ(escapes, 1);
    lock.unlock();
    lock.unlock();
    EXPECT_EQ(traceText(),
              "local input lock: tap 0 was refused\nlocal input lock: 1 taps, enabled [true]\n"
              "local input lock: escape chord pressed at the Mac\n"
              "local input lock off: dropped 0 at HID, 12 at session; passed 7 from the device\n");
}

} // namespace
