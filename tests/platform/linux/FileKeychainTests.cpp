#include "platform/linux/FileKeychain.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

namespace {

using Platform::Linux::FileKeychain;
using TessaloyBase::KeychainError;

mode_t modeOf(const std::filesystem::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

class FileKeychainTest : public ::testing::Test {
protected:
    Testing::TemporaryDirectory folder;
    std::filesystem::path root = folder / "tessaloy" / "keychain";
    FileKeychain keychain{root};
};

TEST_F(FileKeychainTest, RoundTripsItemsAndKeepsThemPrivate) {
    EXPECT_EQ(keychain.read("dev.tessaloy.identity", "device-key-v1"), std::nullopt);

    const FileKeychain::Bytes key(32, 0xAB);
    keychain.write("dev.tessaloy.identity", "device-key-v1", key);
    EXPECT_EQ(keychain.read("dev.tessaloy.identity", "device-key-v1"), key);
    EXPECT_EQ(FileKeychain(root).read("dev.tessaloy.identity", "device-key-v1"), key);

    EXPECT_EQ(modeOf(root), 0700u);
    EXPECT_EQ(modeOf(root / "dev.tessaloy.identity"), 0700u);
    EXPECT_EQ(modeOf(root / "dev.tessaloy.identity" / "device-key-v1"), 0600u);

    const FileKeychain::Bytes replacement{1, 2, 3};
    keychain.write("dev.tessaloy.identity", "device-key-v1", replacement);
    EXPECT_EQ(keychain.read("dev.tessaloy.identity", "device-key-v1"), replacement);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root / "dev.tessaloy.identity"), {}), 1);

    EXPECT_TRUE(keychain.remove("dev.tessaloy.identity", "device-key-v1"));
    EXPECT_FALSE(keychain.remove("dev.tessaloy.identity", "device-key-v1"));
    EXPECT_EQ(keychain.read("dev.tessaloy.identity", "device-key-v1"), std::nullopt);
}

TEST_F(FileKeychainTest, AnUnreadableItemIsAnErrorNotAnAbsence) {
    std::filesystem::create_directories(root / "dev.tessaloy.paired" / "paired-mac-v1");
    try {
        keychain.read("dev.tessaloy.paired", "paired-mac-v1");
        FAIL() << "read did not throw";
    } catch (const TessaloyBase::KeychainError& error) {
        EXPECT_EQ(error.kind(), TessaloyBase::KeychainError::Kind::unreadable);
        EXPECT_NE(std::string(error.what()).find("paired-mac-v1"), std::string::npos);
    }
}

TEST_F(FileKeychainTest, RefusesNamesThatLeaveTheStore) {
    for (const char* name : {"", "..", "../escape", "a/b", ".hidden"}) {
        EXPECT_THROW(keychain.write(name, "account", {1}), TessaloyBase::KeychainError) << name;
        EXPECT_THROW(keychain.read("service", name), TessaloyBase::KeychainError) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "escape"));
}

TEST_F(FileKeychainTest, AWriteThatFailsHalfWayKeepsThePreviousItem) {
    const FileKeychain::Bytes original(64, 0x11);
    keychain.write("dev.tessaloy.paired", "paired-mac-v1", original);

    // Let the file system refuse the write part-way through, as a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(keychain.write("dev.tessaloy.paired", "paired-mac-v1", FileKeychain::Bytes(4096, 0x22)),
                 TessaloyBase::KeychainError);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &previous), 0);

    EXPECT_EQ(keychain.read("dev.tessaloy.paired", "paired-mac-v1"), original);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root / "dev.tessaloy.paired"), {}), 1);
}

} // namespace
