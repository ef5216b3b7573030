#include "app/ui/decisions/FilesTexts.h"
#include "app/ui/decisions/PopoverTexts.h"

#include <gtest/gtest.h>

namespace Plovander {
namespace {

using namespace PopoverTexts;

TEST(PopoverTexts, RelaySubtitleAndSymbol) {
    struct Row {
        bool uses;
        std::optional<QString> status;
        const char* subtitle;
        bool on;
    };
    const Row rows[] = {
        {false, QString("On"), "Off: this network and your VPN only", false},
        {true, std::nullopt, "Starting\u2026", false},
        {true, QString(), "Starting\u2026", false},
        {true, QString("On"), "Reachable from anywhere", true},
        {true, QString("on"), "on", false},
        {true, QString("Offline, retrying"), "Offline, retrying", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(relaySubtitle(row.uses, row.status), QString::fromUtf8(row.subtitle));
        EXPECT_EQ(relayIsOn(row.uses, row.status), row.on) << row.subtitle;
    }
}

// The cards never promise what will not happen: not available while availability is on says why, and
// so does the switch below the card.
TEST(PopoverTexts, StatusCards) {
    struct Row {
        MenuStatus status;
        bool listens;
        const char* title;
        const char* subtitle;
        const char* switchSubtitle;
    };
    const Row rows[] = {
        {MenuStatus::notAvailable, false, "Not available",
         "Turn on Available to my devices when you want to connect from your iPhone.",
         "Nothing can find or connect to this Mac"},
        {MenuStatus::notAvailable, true, "Not available",
         "Sharing was stopped on this Mac. Turn Available to my devices off and on again to let your paired devices "
         "connect.",
         "Paused: sharing was stopped on this Mac"},
    };
    for (const Row& row : rows) {
        const auto card = statusCard(row.status, row.listens);
        ASSERT_TRUE(card) << row.title;
        EXPECT_EQ(card->title, QString::fromUtf8(row.title));
        EXPECT_EQ(card->subtitle, QString::fromUtf8(row.subtitle));
        const bool held = row.status == MenuStatus::notAvailable && row.listens;
        EXPECT_EQ(availabilitySubtitle(row.listens, held), QString::fromUtf8(row.switchSubtitle));
    }
    EXPECT_FALSE(statusCard(MenuStatus::pairing, true));
}

TEST(PopoverTexts, PairButtonTooltipIgnoresCapture) {
    const QString limit = "This Mac already has 3 paired devices. Forget one below to pair another.";
    struct Row {
        bool busy, running, sharing;
        std::size_t paired;
        bool enabled;
        const char* tooltip;
    };
    const Row rows[] = {
        {false, false, false, 0, true, "Show a code to pair a new device"},
        {true, false, false, 1, false, "Show a code to pair a new device"},
        {false, true, false, 2, false, "Show a code to pair a new device"},
        {false, false, true, 1, false, "Disconnect first to pair another device"},
        {false, false, true, 3, false, "Disconnect first to pair another device"},
        {false, false, false, 3, false, nullptr},
    };
    for (const Row& row : rows) {
        const PairButton button = pairButton(row.busy, row.running, row.sharing, row.paired, 3, limit);
        EXPECT_EQ(button.enabled, row.enabled);
        EXPECT_EQ(button.tooltip, row.tooltip ? QString(row.tooltip) : limit);
    }
}

TEST(PopoverTexts, Countdown) {
    const std::pair<double, const char*> cases[] = {
        {300, "5:00"}, {299.2, "5:00"}, {299, "4:59"},     {9, "0:09"},
        {0, "0:00"},   {-4, "0:00"},    {3600, "1:00:00"}, {3725, "1:02:05"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(countdownText(std::chrono::duration<double>(seconds)), QString(text)) << seconds;
    }
}

// Which of blanking and locking holds must pick the line; nothing held, no line.
TEST(PopoverTexts, PrivacyLine) {
    EXPECT_EQ(privacyText(true, true), "Screen blanked, keyboard and mouse locked");
    EXPECT_EQ(privacyText(true, false), "Screen blanked on this Mac");
    EXPECT_EQ(privacyText(false, true), "Keyboard and mouse locked on this Mac");
    EXPECT_EQ(privacyText(false, false), std::nullopt);
}

TEST(FilesTexts, DropZoneSaysWhySendingIsOff) {
    EXPECT_EQ(FilesTexts::dropZone(true, true).title, "Drop files here to send them to your device");
    EXPECT_EQ(FilesTexts::dropZone(false, true).title, "No device is connected");
    EXPECT_EQ(FilesTexts::dropZone(false, false).title, "No device is connected");
    EXPECT_EQ(FilesTexts::dropZone(true, false).title, "Remote control is off");
    EXPECT_EQ(FilesTexts::finished(FilesTexts::Outcome::done, true, {}).line, "Received from your device");
    EXPECT_EQ(FilesTexts::finished(FilesTexts::Outcome::done, false, {}).line, "Sent to your device");
    EXPECT_EQ(FilesTexts::finished(FilesTexts::Outcome::failed, true, "Couldn't be saved").line, "Couldn't be saved");
}

} // namespace
} // namespace Plovander
