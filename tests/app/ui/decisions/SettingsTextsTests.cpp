#include "app/ui/decisions/SettingsTexts.h"

#include <gtest/gtest.h>

namespace Plovander {
namespace {

using namespace SettingsTexts;
using Kind = UpdateRow::Kind;
using State = TessaloyCore::UpdateStatus::State;

TEST(SettingsTexts, UpdateRowFollowsInstallationThenReleaseThenCheck) {
    TessaloyCore::ReleaseManifest release;
    release.version = "2.1";
    release.build = 210;
    struct Row {
        bool installing;
        std::optional<State> state;
        bool available, checking;
        Kind kind;
        const char* title;
        const char* version = "2.1";
    };
    const Row rows[] = {
        {true, std::nullopt, true, false, Kind::progress, "Checking for updates\u2026"},
        {true, State::checking, true, false, Kind::progress, "Checking for updates\u2026"},
        {true, State::downloading, true, false, Kind::progress, "Downloading update\u2026"},
        {true, State::verifying, true, false, Kind::progress, "Checking update\u2026"},
        {true, State::installing, false, false, Kind::progress, "Installing update\u2026"},
        {true, State::failed, true, false, Kind::progress, "Checking for updates\u2026"},
        {false, State::failed, true, true, Kind::install, "Install Plovander 2.1 (210)"},
        {false, std::nullopt, true, false, Kind::install, "Install Plovander %2 (210)", "%2"},
        {false, State::upToDate, false, true, Kind::check, "Checking for updates\u2026"},
        {false, std::nullopt, false, false, Kind::check, "Check for Updates\u2026"},
    };
    for (const Row& row : rows) {
        release.version = row.version;
        const auto status =
            row.state ? std::optional(TessaloyCore::UpdateStatus{*row.state, std::nullopt}) : std::nullopt;
        const UpdateRow shown =
            updateRow(row.installing, status, row.available ? std::optional(release) : std::nullopt, row.checking);
        EXPECT_EQ(shown.kind, row.kind) << row.title;
        EXPECT_EQ(shown.title, QString::fromUtf8(row.title));
    }
}

TEST(SettingsTexts, VPNAddresses) {
    for (const char* yes : {"100.64.0.1:55802", "100.127.255.255:1", "100.64.0.1", "[fd7a:115c:a1e0::1]:55802",
                            "[FD7A:115C:A1E0::1]:55802", "[fd7a:115c:a1e0::1"}) {
        EXPECT_TRUE(isVPNAddress(yes)) << yes;
    }
    for (const char* no : {"100.63.0.1:1", "100.128.0.1:1", "10.0.0.1:1", "[fd7a:115c:a1e1::1]:55802", "[fe80::1]:1",
                           "100.64.1:1", "100.x.0.1:1", ""}) {
        EXPECT_FALSE(isVPNAddress(no)) << no;
    }
}

TEST(SettingsTexts, CountersLineCountsWholeKibibytes) {
    EXPECT_EQ(countersLine(12345, 12000, 1023, 3),
              QString::fromUtf8("Frames 12345 · encoded 12000 · 0 KiB · dropped 3"));
    EXPECT_TRUE(countersLine(0, 0, 1024, 0).contains(QString::fromUtf8("· 1 KiB ·")));
    EXPECT_TRUE(countersLine(0, 0, 1'048'575, 0).contains(QString::fromUtf8("· 1023 KiB ·")));
}

TEST(SettingsTexts, DiagnosticsButtonsAndPicker) {
    struct Row {
        bool busy, running, displays, sharing;
        bool load, test, stop, picker;
    };
    const Row rows[] = {
        {false, false, true, false, true, true, false, true},
        {false, false, false, false, true, false, false, true},
        {true, false, true, false, false, false, false, false},
        // The encoder test runs.
        {false, true, true, false, false, false, true, false},
        // The probe serves the session.
        {false, true, true, true, false, false, false, true},
    };
    for (const Row& row : rows) {
        const auto buttons = diagnosticsButtons(row.busy, row.running, row.displays, row.sharing);
        EXPECT_EQ(buttons.loadEnabled, row.load);
        EXPECT_EQ(buttons.testEnabled, row.test);
        EXPECT_EQ(buttons.stopShown, row.stop);
        EXPECT_EQ(displayPickerEnabled(row.busy, row.running, row.sharing), row.picker);
    }
    EXPECT_EQ(displayEntry({}, 2, 1920, 1080), QString::fromUtf8("Display 2 · 1920 × 1080"));
    EXPECT_EQ(displayEntry("DUMMY1", 7, 10000, 800), QString::fromUtf8("DUMMY1 · 10000 × 800"));
    EXPECT_EQ(displayEntry("Studio %1", 3, 1920, 1080), QString::fromUtf8("Studio %1 · 1920 × 1080"));
}

} // namespace
} // namespace Plovander
