#include "tests/app/shell/StreamingSessionFixture.h"

namespace {

using Testing::StreamingSessionTest;
using Change = Testing::FakeLoginItems::Change;
using State = Plovander::LoginItem::State;

class SessionLoginItemTest : public StreamingSessionTest {
protected:
    std::optional<bool> stored(std::string_view key) const { return environment.defaults.boolean(key); }
    void preset(std::string_view key, std::optional<bool> value) {
        if (value) {
            environment.defaults.setBoolean(key, *value);
        } else {
            environment.defaults.remove(key);
        }
    }
};

TEST_F(SessionLoginItemTest, TheFirstApprovalThatKeepsTheComputerAvailableStartsItAtLogin) {
    struct Row {
        const char* name;
        bool keepsAvailable;
        std::optional<bool> availabilityChosen;
        std::optional<bool> loginItemChosen;
        bool registers;
    };
    for (const Row& row : std::vector<Row>{
             {"first approval, staying available", true, std::nullopt, std::nullopt, true},
             {"first approval, not staying available", false, std::nullopt, std::nullopt, false},
             {"the user already decided about start at login", true, std::nullopt, true, false},
             {"not the first approval", true, true, std::nullopt, false},
         }) {
        SCOPED_TRACE(row.name);
        preset("TessaloyAvailabilityChosen", row.availabilityChosen);
        preset("TessaloyLoginItemChosen", row.loginItemChosen);
        preset("TessaloyStartAtLoginWanted", std::nullopt);
        preset("TessaloyListenForPairedDevices", std::nullopt);
        renew();
        // A computer with no paired device yet, so each row pairs afresh.
        const auto paired = session->pairedDevices();
        for (const auto& device : paired) session->forgetDevice(device);
        environment.logins.changes.clear();
        session->setKeepsAvailableOnApproval(row.keepsAvailable);

        pairAndApprove(Device{"Ada's iPhone"});
        EXPECT_EQ(environment.logins.changes,
                  row.registers ? std::vector<Change>{{.registers = true}} : std::vector<Change>{});
        if (row.registers) {
            EXPECT_EQ(session->loginItem(), State(State::Case::enabled));
            EXPECT_EQ(stored("TessaloyLoginItemChosen"), true);
            EXPECT_EQ(stored("TessaloyStartAtLoginWanted"), true);
        }
    }
}

TEST_F(SessionLoginItemTest, TheSwitchRecordsTheChoiceAndPublishesWhatTheSystemSays) {
    environment.logins.failWith = "Failed to connect to bus";
    session->setStartAtLogin(true);
    EXPECT_EQ(session->loginItem(), State(State::Case::unavailable, "Failed to connect to bus"));
    EXPECT_EQ(stored("TessaloyLoginItemChosen"), true);
    EXPECT_EQ(stored("TessaloyStartAtLoginWanted"), true);
    // Showing the settings again refreshes the state, which must not wipe the failure unread.
    session->refreshLoginItem();
    EXPECT_EQ(session->loginItem(), State(State::Case::unavailable, "Failed to connect to bus"));

    // Still wanted at the next start: the refresh registers the agent once the system can.
    environment.logins.failWith.reset();
    renew();
    EXPECT_EQ(environment.logins.changes.back(), (Change{.registers = true}));
    EXPECT_EQ(session->loginItem(), State(State::Case::enabled));

    session->setStartAtLogin(false);
    EXPECT_EQ(session->loginItem(), State(State::Case::disabled));
    EXPECT_EQ(stored("TessaloyStartAtLoginWanted"), false);
}

} // namespace
