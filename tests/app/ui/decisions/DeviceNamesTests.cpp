#include "app/ui/decisions/DeviceNames.h"

#include <gtest/gtest.h>

namespace Plovander {
namespace {

TEST(DeviceNames, AddressLikeNamesAreAnnouncedAsADevice) {
    const std::pair<const char*, const char*> cases[] = {
        {"Jo's iPhone", "Jo's iPhone"},
        {"", "A device"},
        {"fe80::1%en0", "A device"},
        {"fe80::1", "A device"},
        {"a:b and c:d", "A device"},
        {"192.168.1.20", "A device"},
        {"9.5", "A device"},
        {"\u0663.\u0661", "A device"}, // Arabic-Indic digits
        {"\u00BD.x", "A device"},      // a fraction is a number too
        {"\u2167.", "A device"},       // a Roman numeral character
        {"Room 2.0", "Room 2.0"},
        {"a:b", "a:b"},
        {"   ", "   "},
        {"7 dwarfs", "7 dwarfs"},
    };
    for (const auto& [name, shown] : cases)
        EXPECT_EQ(deviceDisplayName(QString::fromUtf8(name)), QString::fromUtf8(shown)) << name;
}

TEST(DeviceNames, ControlAndReorderingCharactersAreNeutralised) {
    const std::pair<const char*, const char*> cases[] = {
        {"Jo\u202Eenohp", "Jo\uFFFDenohp"},
        {"a\u2066b\u2069", "a\uFFFDb\uFFFD"},
        {"line\nbreak\t", "line\uFFFDbreak\uFFFD"},
        {"bell\x07", "bell\uFFFD"},
        {"<b>bold</b> & \u00E9\U0001F600", "<b>bold</b> & \u00E9\U0001F600"},
    };
    for (const auto& [name, shown] : cases)
        EXPECT_EQ(plainName(QString::fromUtf8(name)), QString::fromUtf8(shown)) << name;
}

TEST(DeviceNames, SpokenCodeDropsTheDash) {
    EXPECT_EQ(spokenCode("AB3D-7KQ2"), "A B 3 D 7 K Q 2");
    EXPECT_EQ(spokenCode(""), "");
}

} // namespace
} // namespace Plovander
