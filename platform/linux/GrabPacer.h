#pragma once

#include <algorithm>
#include <chrono>

namespace Platform::Linux {

// When a capture may grab the screen: at once when it changes, as long as grabs keep to the frame
// rate on average. A change that comes up to half an interval before its grab is due is taken at
// once, so a screen that moves at the frame rate, a little unevenly, has each move grabbed; a grab
// that came late takes no time from the next. Pure: the caller says what time it is.
class GrabPacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit GrabPacer(Clock::duration interval) : interval_(interval) {}

    bool mayGrab(Clock::time_point now) const { return now + interval_ / 2 >= due_; }
    void grabbed(Clock::time_point now) { due_ = std::max(due_, now) + interval_; }

private:
    Clock::duration interval_;
    // When the next grab is due at the frame rate.
    Clock::time_point due_{};
};

} // namespace Platform::Linux
