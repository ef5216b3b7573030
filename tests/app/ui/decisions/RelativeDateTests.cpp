#include "app/ui/decisions/RelativeDate.h"

#include <gtest/gtest.h>

namespace Plovander {
namespace {

TEST(RelativeDate, LargestWholeUnitWithNamedWords) {
    using namespace std::chrono;
    const system_clock::time_point now{hours(24 * 20000)};
    const std::pair<seconds, const char*> cases[] = {
        {seconds(0), "now"},
        {seconds(-1), "1 second ago"},
        {seconds(-59), "59 seconds ago"},
        {minutes(-1), "1 minute ago"},
        {hours(-5), "5 hours ago"},
        {hours(-24), "yesterday"},
        {hours(-47), "yesterday"},
        {hours(-48), "2 days ago"},
        {hours(-24 * 7), "last week"},
        {hours(-24 * 21), "3 weeks ago"},
        {hours(-24 * 30), "last month"},
        {hours(-24 * 400), "last year"},
        {hours(-24 * 800), "2 years ago"},
        {hours(24), "tomorrow"},
        {minutes(5), "in 5 minutes"},
    };
    for (const auto& [offset, text] : cases) EXPECT_EQ(relativeDate(now + offset, now), QString(text)) << text;
}

} // namespace
} // namespace Plovander
