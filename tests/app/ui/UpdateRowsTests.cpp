#include "app/ui/UpdateRows.h"

#include "app/runtime/Awaiters.h"
#include "app/ui/MenuRow.h"
#include "app/updater/MacUpdater.h"
#include "tests/app/ui/OffscreenWidgets.h"
#include "tests/support/ManualMainActor.h"

#include <gtest/gtest.h>

#include <QLabel>

namespace Testing {
namespace {

using TessaloyCore::ReleaseManifest;
using TessaloyCore::UpdateStatus;
using State = UpdateStatus::State;

// An updater whose check takes one second of virtual time and whose installation the test moves on.
class FakeUpdater final : public Plovander::MacUpdater {
public:
    explicit FakeUpdater(ManualMainActor& actor) : actor_(actor) {}

    int checks = 0;
    int installs = 0;
    std::optional<ReleaseManifest> found;
    bool installing = false;

    void startDailyCheck() override {}
    QCoro::Task<std::optional<ReleaseManifest>> checkForUpdate() override {
        ++checks;
        co_await Plovander::sleepFor(actor_, std::chrono::seconds(1), {});
        available_ = found;
        onChange();
        co_return found;
    }
    QCoro::Task<> installUpdate(std::function<bool()> isAllowed, Report, Plovander::CancellationToken) override {
        EXPECT_TRUE(isAllowed());
        ++installs;
        installing = true;
        publish(State::checking);
        co_return;
    }
    void publish(State state, std::optional<std::string> detail = std::nullopt) {
        status_ = UpdateStatus{state, std::move(detail)};
        onChange();
    }
    const std::optional<ReleaseManifest>& available() const override { return available_; }
    const std::optional<UpdateStatus>& status() const override { return status_; }
    bool isInstalling() const override { return installing; }
    bool canReplaceItself() const override { return true; }
    std::string currentVersion() const override { return "1.0"; }
    std::int64_t currentBuild() const override { return 1; }

private:
    ManualMainActor& actor_;
    std::optional<ReleaseManifest> available_;
    std::optional<UpdateStatus> status_;
};

class UpdateRowsTest : public testing::Test {
protected:
    static void SetUpTestSuite() { startOffscreenWidgets(); }

    UpdateRowsTest() {
        updater.onChange = [this] { rows.refresh(); };
        rows.show();
    }

    Plovander::MenuRow& row() { return *rows.findChild<Plovander::MenuRow*>("updateRow"); }
    QLabel& note() { return *rows.findChild<QLabel*>("updateNote"); }

    ManualMainActor actor;
    FakeUpdater updater{actor};
    Plovander::UpdateRows rows{updater};
};

TEST_F(UpdateRowsTest, ACheckRunsOnceAndTurnsTheRowIntoTheInstallRow) {
    row().click();
    row().click();
    EXPECT_EQ(updater.checks, 1) << "a second tap starts no second check";

    ReleaseManifest release;
    release.version = "2.1";
    release.build = 210;
    updater.found = release;
    actor.advance(std::chrono::seconds(1));
    EXPECT_EQ(row().text(), "Install Plovander 2.1 (210)");

    row().click();
    EXPECT_EQ(updater.installs, 1);
    EXPECT_FALSE(row().isEnabled()) << "while installing, the row cannot be tapped";

    updater.installing = false;
    updater.publish(State::failed, "The download was damaged.");
    EXPECT_TRUE(row().isEnabled());
    EXPECT_EQ(row().text(), "Install Plovander 2.1 (210)");
    EXPECT_TRUE(note().isVisibleTo(&rows));
    EXPECT_EQ(note().text(), "The download was damaged.");
    updater.publish(State::failed);
    EXPECT_FALSE(note().isVisibleTo(&rows)) << "a failure without a sentence leaves no note";
}

} // namespace
} // namespace Testing
