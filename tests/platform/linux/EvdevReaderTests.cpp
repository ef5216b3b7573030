#include "platform/linux/EvdevReader.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

using Platform::Linux::EvdevReader;
using Platform::Linux::FileDescriptor;

TEST(EvdevReader, CountsInputAndFiresTheChordOncePerPressOfEscape) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    FileDescriptor writing(ends[1]);
    std::vector<std::unique_ptr<FileDescriptor>> devices;
    devices.push_back(std::make_unique<FileDescriptor>(ends[0]));
    std::mutex lock;
    std::condition_variable fired;
    int chords = 0;
    EvdevReader reader(std::move(devices), [&] {
        const std::lock_guard guard(lock);
        ++chords;
        fired.notify_all();
    });

    const std::vector<input_event> events = {
        {{}, EV_KEY, KEY_LEFTCTRL, 1}, {{}, EV_KEY, KEY_LEFTALT, 1},   {{}, EV_KEY, KEY_ESC, 1}, // no Super
        {{}, EV_KEY, KEY_ESC, 0},      {{}, EV_KEY, KEY_LEFTMETA, 1},  {{}, EV_SYN, SYN_REPORT, 0},
        {{}, EV_KEY, KEY_ESC, 1},      {{}, EV_KEY, KEY_ESC, 2},       {{}, EV_KEY, KEY_ESC, 0}, // fires once
        {{}, EV_REL, REL_X, 5},        {{}, EV_KEY, KEY_LEFTCTRL, 0},  {{}, EV_KEY, KEY_ESC, 1}, // no Control
        {{}, EV_KEY, KEY_ESC, 0},      {{}, EV_KEY, KEY_RIGHTCTRL, 1}, {{}, EV_KEY, KEY_ESC, 1}, // fires
    };
    ASSERT_EQ(::write(writing.get(), events.data(), events.size() * sizeof(input_event)),
              static_cast<ssize_t>(events.size() * sizeof(input_event)));
    std::unique_lock guard(lock);
    ASSERT_TRUE(fired.wait_for(guard, std::chrono::seconds(5), [&] { return chords == 2; }));
    guard.unlock();
    EXPECT_EQ(reader.events(), 14u) << "every key and motion record, no sync record";
}

} // namespace
