#include "platform/linux/XdgTransferFiles.h"

#include "platform/linux/TypeIdentifiers.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <future>
#include <string>
#include <system_error>

namespace {

using Platform::Linux::TypeIdentifiers;
using Platform::Linux::XdgTransferFiles;

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

unsigned modeOf(const std::filesystem::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return 0;
    return status.st_mode & 07777;
}

class XdgTransferFilesTest : public testing::Test {
protected:
    Testing::TemporaryDirectory directory;
    XdgTransferFiles files{directory / "Downloads", directory / "cache" / "tessaloy" / "TessaloyIncoming"};
};

TEST(QuarantineValueTest, IsTheFlagsTheHexadecimalTimeAndTheAgent) {
    EXPECT_EQ(XdgTransferFiles::quarantineValue(1'700'000'000), "0081;6553f100;Plovander;");
    EXPECT_EQ(XdgTransferFiles::quarantineValue(0), "0081;00000000;Plovander;");
    EXPECT_EQ(XdgTransferFiles::quarantineValue(255), "0081;000000ff;Plovander;");
    EXPECT_EQ(XdgTransferFiles::quarantineValue(0x1'0000'0000), "0081;100000000;Plovander;");
}

TEST_F(XdgTransferFilesTest, TheQuarantineMarkIsAnExtendedAttribute) {
    writeFile(directory / "a.txt", "x");
    const auto at = std::chrono::system_clock::time_point(std::chrono::milliseconds(1'700'000'000'999));
    const bool marked = files.setQuarantine(directory / "a.txt", at);
    char value[64] = {};
    const ssize_t length = ::getxattr((directory / "a.txt").c_str(), "user.tessaloy.quarantine", value, sizeof value);
    if (!marked && length < 0 && (errno == ENOTSUP || errno == EOPNOTSUPP)) {
        GTEST_SKIP() << "this file system refuses user extended attributes";
    }
    ASSERT_TRUE(marked);
    EXPECT_EQ(std::string(value, static_cast<std::size_t>(length)), "0081;6553f100;Plovander;")
        << "whole seconds, cut toward zero, without a terminating zero byte";
    EXPECT_LT(::getxattr((directory / "a.txt").c_str(), "user.xdg.origin.url", value, sizeof value), 0);

    EXPECT_FALSE(files.setQuarantine(directory / "missing.txt", at));
}

TEST_F(XdgTransferFilesTest, TheWorkFolderIsMadePrivate) {
    files.prepareWorkFolder();
    EXPECT_EQ(modeOf(files.workFolder()), 0700u);
    EXPECT_EQ(modeOf(files.workFolder().parent_path()), 0700u);

    std::filesystem::permissions(files.workFolder(), std::filesystem::perms::all);
    files.prepareWorkFolder();
    EXPECT_EQ(modeOf(files.workFolder()), 0700u);
}

TEST_F(XdgTransferFilesTest, AWorkFolderThatIsNotThisUsersOwnIsRefused) {
    std::filesystem::create_directories(directory / "elsewhere");
    std::filesystem::create_directories(files.workFolder().parent_path());
    std::filesystem::create_directory_symlink(directory / "elsewhere", files.workFolder());
    EXPECT_THROW(files.prepareWorkFolder(), std::system_error);
    std::filesystem::remove(files.workFolder());

    writeFile(files.workFolder(), "not a folder");
    EXPECT_THROW(files.prepareWorkFolder(), std::system_error);
    std::filesystem::remove(files.workFolder());

    if (::geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
    std::filesystem::create_directories(files.workFolder());
    ASSERT_EQ(::chown(files.workFolder().c_str(), 65534, 65534), 0);
    EXPECT_THROW(files.prepareWorkFolder(), std::system_error);
}

TEST_F(XdgTransferFilesTest, EmptyingTheWorkFolderDeletesWhatIsInsideAndNothingElse) {
    files.emptyWorkFolder();
    EXPECT_FALSE(std::filesystem::exists(files.workFolder())) << "a missing folder stays missing";

    files.prepareWorkFolder();
    writeFile(files.workFolder() / "3F2504E0-4F89-11D3-9A0C-0305E82C3301", "partial");
    writeFile(directory / "mine.txt", "kept");
    std::filesystem::create_symlink(directory / "mine.txt", files.workFolder() / "link");
    files.emptyWorkFolder();
    EXPECT_TRUE(std::filesystem::is_empty(files.workFolder()));
    EXPECT_EQ(readFile(directory / "mine.txt"), "kept") << "a link goes, not what it points to";

    // A link in the folder's place is not followed.
    std::filesystem::remove(files.workFolder());
    writeFile(directory / "elsewhere" / "a", "kept");
    std::filesystem::create_directory_symlink(directory / "elsewhere", files.workFolder());
    files.emptyWorkFolder();
    EXPECT_EQ(readFile(directory / "elsewhere" / "a"), "kept");
}

TEST_F(XdgTransferFilesTest, TheCurrentUsersFoldersComeFromTheEnvironment) {
    Testing::ScopedEnvironment environment;
    environment.set("HOME", directory.path().string());
    environment.set("XDG_CONFIG_HOME", (directory / "config").string());
    environment.set("XDG_CACHE_HOME", (directory / "cachehome").string());
    const XdgTransferFiles current;

    EXPECT_EQ(current.workFolder(), directory / "cachehome" / "tessaloy" / "TessaloyIncoming");
    EXPECT_EQ(current.downloadsFolder(), directory / "Downloads");

    writeFile(directory / "config" / "user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/Incoming stuff\"\n");
    EXPECT_EQ(current.downloadsFolder(), directory / "Incoming stuff");
}

TEST_F(XdgTransferFilesTest, AMoveNeverReplacesAFile) {
    writeFile(directory / "work" / "A", "received");
    writeFile(directory / "Downloads" / "notes.txt", "mine");

    EXPECT_FALSE(files.moveWithoutReplacing(directory / "work" / "A", directory / "Downloads" / "notes.txt"));
    EXPECT_EQ(readFile(directory / "Downloads" / "notes.txt"), "mine");
    EXPECT_EQ(readFile(directory / "work" / "A"), "received");

    EXPECT_TRUE(files.moveWithoutReplacing(directory / "work" / "A", directory / "Downloads" / "notes 2.txt"));
    EXPECT_EQ(readFile(directory / "Downloads" / "notes 2.txt"), "received");
    EXPECT_FALSE(std::filesystem::exists(directory / "work" / "A"));

    // A dangling link counts as taken too.
    writeFile(directory / "work" / "B", "again");
    std::filesystem::create_symlink(directory / "nowhere", directory / "Downloads" / "link");
    EXPECT_FALSE(files.moveWithoutReplacing(directory / "work" / "B", directory / "Downloads" / "link"));
    EXPECT_FALSE(std::filesystem::exists(directory / "nowhere"));

    EXPECT_THROW(files.moveWithoutReplacing(directory / "work" / "B", directory / "missing" / "x"), std::system_error);
    EXPECT_TRUE(std::filesystem::exists(directory / "work" / "B"));
}

TEST_F(XdgTransferFilesTest, AMoveAcrossFileSystemsCopiesAndDeletes) {
    const std::filesystem::path shm = "/dev/shm";
    struct stat here {};
    struct stat there {};
    if (::stat(shm.c_str(), &there) != 0 || ::stat(directory.path().c_str(), &here) != 0 ||
        here.st_dev == there.st_dev) {
        GTEST_SKIP() << "no second file system to move across";
    }
    std::string pattern = (shm / "plovander-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path other = pattern;

    std::string contents(3'000'000, 'x');
    for (std::size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i * 7 + i / 4096);
    writeFile(other / "work", contents);
    writeFile(directory / "Downloads" / "taken", "mine");

    EXPECT_FALSE(files.moveWithoutReplacing(other / "work", directory / "Downloads" / "taken"));
    EXPECT_EQ(readFile(directory / "Downloads" / "taken"), "mine");
    EXPECT_TRUE(files.moveWithoutReplacing(other / "work", directory / "Downloads" / "free"));
    EXPECT_EQ(readFile(directory / "Downloads" / "free"), contents);
    EXPECT_FALSE(std::filesystem::exists(other / "work"));

    std::filesystem::remove_all(other);
}

TEST_F(XdgTransferFilesTest, ContentTypesAreNamedAsTheDeviceNamesThem) {
    // Contents that say otherwise, and a file that does not exist: the name alone decides.
    writeFile(directory / "photo.jpg", "%PDF-1.4\n");
    writeFile(directory / "blob", std::string("\x89PNG\r\n\x1a\n", 8));
    const struct {
        const char* name;
        const char* identifier;
    } cases[] = {
        {"photo.jpg", "public.jpeg"},
        {"Holiday.JPEG", "public.jpeg"},
        {"paper.pdf", "com.adobe.pdf"},
        {"notes.txt", "public.plain-text"},
        {"main.cpp", "public.plain-text"},
        {"README", "public.plain-text"},
        {"bundle.zip", "public.zip-archive"},
        {"blob", "public.data"},
        {"archive.unknownextension", "public.data"},
    };
    for (const auto& [name, identifier] : cases) {
        EXPECT_EQ(files.contentType(directory / name), identifier) << name;
    }
}

TEST_F(XdgTransferFilesTest, TheContentTypeOfANamedPipeIsToldWithoutWaitingForAWriter) {
    const auto pipe = directory / "song.mp3";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    auto told = std::async(std::launch::async, [&] { return files.contentType(pipe); });
    if (told.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
        ADD_FAILURE() << "the pipe was opened";
        // Lets the reader go.
        ::close(::open(pipe.c_str(), O_WRONLY | O_NONBLOCK));
    }
    EXPECT_EQ(told.get(), "public.mp3");
}

TEST(TypeIdentifiersTest, MapClipboardFormatsBothWays) {
    EXPECT_EQ(TypeIdentifiers::ofClipboardFormat("image/png"), "public.png");
    EXPECT_EQ(TypeIdentifiers::ofClipboardFormat("image/tiff"), "public.tiff");
    EXPECT_EQ(TypeIdentifiers::ofClipboardFormat("text/plain"), "public.utf8-plain-text");
    EXPECT_EQ(TypeIdentifiers::ofClipboardFormat("text/uri-list"), "public.file-url");
    EXPECT_EQ(TypeIdentifiers::ofClipboardFormat("application/x-qt-image"), "");
    EXPECT_EQ(TypeIdentifiers::clipboardFormatOf("public.jpeg"), "image/jpeg");
    EXPECT_EQ(TypeIdentifiers::clipboardFormatOf("public.utf8-plain-text"), "text/plain;charset=utf-8");
    EXPECT_EQ(TypeIdentifiers::clipboardFormatOf("com.example.private"), "");
}

} // namespace
