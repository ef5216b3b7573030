#include "app/updater/UpdateFailure.h"
#include "app/updater/UpdateStaging.h"
#include "app/updater/release/FileDigest.h"
#include "app/updater/release/ReleaseArchive.h"
#include "tests/app/updater/ReleaseFixture.h"
#include "tests/support/PrivateMount.h"
#include "tests/support/ProblemOf.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <functional>
#include <regex>

namespace {

namespace fs = std::filesystem;
using Plovander::ReleaseArchive;
using Plovander::ReleaseSignature;
using Plovander::UpdateFailure;
using Plovander::UpdateStaging;
using Refusal = ReleaseSignature::Refusal;
using Testing::problemOf;
using Testing::ReleaseFixture;

TessaloyCore::ReleaseManifest manifestFor(const fs::path& archive, std::int64_t build) {
    TessaloyCore::ReleaseManifest manifest;
    manifest.version = "1." + std::to_string(build);
    manifest.build = build;
    manifest.sha256 = Plovander::fileSha256Hex(archive);
    manifest.minimumSystem = "2.17";
    return manifest;
}

// An archive whose one entry is named `path`: a file, or a link to `link` (`hard` for a hard link).
void packSingleEntry(const fs::path& archive, const char* path, const char* link = nullptr, bool hard = false) {
    struct archive* writer = archive_write_new();
    archive_write_set_format_pax_restricted(writer);
    archive_write_add_filter_zstd(writer);
    archive_write_open_filename(writer, archive.c_str());
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, path);
    archive_entry_set_perm(entry, 0644);
    if (link && hard) {
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_hardlink(entry, link);
    } else if (link) {
        archive_entry_set_filetype(entry, AE_IFLNK);
        archive_entry_set_symlink(entry, link);
    } else {
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_size(entry, 1);
    }
    archive_write_header(writer, entry);
    if (!link) archive_write_data(writer, "x", 1);
    archive_entry_free(entry);
    archive_write_close(writer);
    archive_write_free(writer);
}

unsigned modeOf(const fs::path& path) { return static_cast<unsigned>(fs::symlink_status(path).permissions()); }

// 1,100 nested folders: more levels than a process may hold descriptors.
const std::string deepFolders = std::regex_replace(std::string(1100, 'd'), std::regex("d"), "d/");

// While it lives, this process runs as the updater does: as an ordinary user given `folder`, with
// 1,024 descriptors; the C locale is back when it goes.
struct AsTheUpdater {
    explicit AsTheUpdater(const fs::path& folder) {
        ::getrlimit(RLIMIT_NOFILE, &limit);
        const rlimit usual{std::min<rlim_t>(limit.rlim_cur, 1024), limit.rlim_max};
        ::setrlimit(RLIMIT_NOFILE, &usual);
        const passwd* nobody = ::getpwnam("nobody");
        ordinary = ::getuid() != 0 || (nobody && ::chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid) == 0 &&
                                       ::setegid(nobody->pw_gid) == 0 && ::seteuid(nobody->pw_uid) == 0);
    }
    ~AsTheUpdater() {
        if (::getuid() == 0 && ::seteuid(0) == 0) ::setegid(0);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        std::setlocale(LC_ALL, "C");
    }
    rlimit limit{};
    bool ordinary = false;
};

struct Case {
    const char* name;
    // Makes the archive at the given path from a source folder; returns its manifest.
    std::function<TessaloyCore::ReleaseManifest(const ReleaseFixture&, const fs::path& source, const fs::path& archive)>
        make;
    const char* failure; // nullptr: staging succeeds
    // Not zero: the installed tree lies on a disk that holds only this many bytes.
    std::size_t diskBytes = 0;
};

TessaloyCore::ReleaseManifest signedRelease(const ReleaseFixture& fixture, const fs::path& source,
                                            const fs::path& archive, ReleaseFixture::TreeOptions options = {}) {
    return fixture.release(ReleaseFixture::makeTree(source, options), archive);
}

// A case releasing a tree made with `options`, its manifest then edited by `edit`.
auto released(
    ReleaseFixture::TreeOptions options = {}, std::function<void(TessaloyCore::ReleaseManifest&)> edit = [](auto&) {}) {
    return [=](const ReleaseFixture& fixture, const fs::path& source, const fs::path& archive) {
        auto manifest = signedRelease(fixture, source, archive, options);
        edit(manifest);
        return manifest;
    };
}

// A case whose tree is changed by `change` after it was signed by the fixture's keys.
auto changed(std::function<void(const ReleaseFixture&, const fs::path& tree)> change) {
    return [=](const ReleaseFixture& fixture, const fs::path& source, const fs::path& archive) {
        return fixture.release(ReleaseFixture::makeTree(source, {}), archive,
                               [&](const fs::path& tree) { change(fixture, tree); });
    };
}

// A case whose tree is changed by `change` before it is signed: what a holder of the keys releases.
auto signedAfter(ReleaseFixture::Alteration change) {
    return [=](const ReleaseFixture& fixture, const fs::path& source, const fs::path& archive) {
        const fs::path tree = ReleaseFixture::makeTree(source, {});
        change(tree);
        return fixture.release(tree, archive);
    };
}

// A case whose archive holds one entry (see packSingleEntry).
auto singleEntry(std::string path, const char* link = nullptr, bool hard = false) {
    return [=](const ReleaseFixture&, const fs::path&, const fs::path& archive) {
        packSingleEntry(archive, path.c_str(), link, hard);
        return manifestFor(archive, 2);
    };
}

// A case whose tree is signed by a key other than the trusted one, or for another architecture.
enum class Foreign { publisher, notary, architecture };
auto signedWithForeign(Foreign foreign) {
    return [=](const ReleaseFixture& fixture, const fs::path& source, const fs::path& archive) {
        const fs::path tree = ReleaseFixture::makeTree(source, {});
        const auto other = Plovander::SigningKey::generate();
        ReleaseSignature::sign(
            tree, foreign == Foreign::publisher ? other : fixture.publisher,
            foreign == Foreign::notary ? other : fixture.notary,
            foreign == Foreign::architecture ? "elsewhere" : ReleaseSignature::machineArchitecture());
        ReleaseArchive::pack(tree, archive);
        return manifestFor(archive, 2);
    };
}

const Case cases[] = {
    {"valid", released(), nullptr},
    {"upperCaseDigest",
     released({}, [](auto& m) { std::transform(m.sha256.begin(), m.sha256.end(), m.sha256.begin(), ::toupper); }),
     nullptr},
    {"wrongDigest", released({}, [](auto& m) { m.sha256[0] = m.sha256[0] == '0' ? '1' : '0'; }), "hashMismatch"},
    {"corruptArchive",
     [](auto&, auto&, auto& a) {
         ReleaseFixture::writeFile(a, "not an archive at all");
         return manifestFor(a, 2);
     },
     "mount"},
    {"escapingArchive", singleEntry("Plovander.app/../../escaped"), "mount"},
    {"absolutePath", singleEntry("/tmp/escaped"), "mount"},
    {"linkLeavingTheTree", singleEntry("Plovander.app/escaped", "../../.."), "mount"},
    {"hardLink", singleEntry("Plovander.app/escaped", "/etc/passwd", true), "mount"},
    {"noApp", released({.name = "Other.app"}), "noApp"},
    {"unsigned",
     [](auto&, auto& s, auto& a) {
         ReleaseArchive::pack(ReleaseFixture::makeTree(s, {}), a);
         return manifestFor(a, 2);
     },
     "signature: status -1"},
    {"foreignPublisher", signedWithForeign(Foreign::publisher), "signature: status -3"},
    {"otherIdentifier", changed([](const ReleaseFixture& f, const fs::path& tree) {
         auto list = ReleaseSignature::contentsList(tree, ReleaseSignature::machineArchitecture());
         list.replace(list.find("com.tessaloy"), 3, "org");
         ReleaseFixture::writeFile(tree / "_Signature/CodeResources", list);
         const auto signature = f.publisher.sign({reinterpret_cast<const std::uint8_t*>(list.data()), list.size()});
         ReleaseFixture::writeFile(tree / "_Signature/CodeResources.sig",
                                   std::string(signature.begin(), signature.end()));
     }),
     "signature: status -4"},
    {"notNotarised", signedWithForeign(Foreign::notary), "signature: status -6"},
    {"tamperedFile", changed([](auto&, const fs::path& tree) {
         ReleaseFixture::writeFile(tree / "bin/plovander", "#!/bin/sh\necho 3\n");
     }),
     "signature: status -7"},
    {"changedMode", changed([](auto&, const fs::path& tree) {
         fs::permissions(tree / "Info.json", fs::perms::others_write, fs::perm_options::add);
     }),
     "signature: status -7"},
    {"extraFileInAClosedFolder", changed([](auto&, const fs::path& tree) {
         ReleaseFixture::writeFile(tree / "bin/extra", "x");
         fs::permissions(tree / "bin", fs::perms::owner_read | fs::perms::owner_exec);
     }),
     "signature: status -8"},
    {"missingFile", changed([](auto&, const fs::path& tree) { fs::remove(tree / "launcher"); }),
     "signature: status -8"},
    {"wrongArchitecture", signedWithForeign(Foreign::architecture), "signature: status -9"},
    {"spaceAndNamesOutsideAscii",
     signedAfter([](const fs::path& tree) { ReleaseFixture::writeFile(tree / "bin/caf\xC3\xA9 cafe\xCC\x81", "x"); }),
     nullptr},
    {"foldersOpenToAll", changed([](auto&, const fs::path& tree) {
         fs::permissions(tree, fs::perms::all);
         fs::permissions(tree / "_Signature", fs::perms::all);
         fs::permissions(tree / "_Signature/CodeResources", fs::perms::all);
     }),
     nullptr},
    {"programLinkedToASignatureFile", signedAfter([](const fs::path& tree) {
         fs::remove(tree / "bin/plovander");
         fs::create_symlink("../_Signature/CodeResources.sig", tree / "bin/plovander");
     }),
     "noApp"},
    {"diskFullWhileUnpacking",
     signedAfter([](const fs::path& tree) { ReleaseFixture::writeFile(tree / "bin/data", std::string(1 << 20, 'x')); }),
     "couldn't unpack Plovander.app/bin/data: No space left on device", 256 << 10},
    {"programLinkedOutOfTheTree",
     signedAfter([](const fs::path& tree) { ReleaseFixture::linkOutOfTree(tree, "bin/plovander"); }), "mount"},
    {"infoLinkedOutOfTheTree",
     signedAfter([](const fs::path& tree) { ReleaseFixture::linkOutOfTree(tree, "Info.json"); }), "mount"},
    {"riderFile",
     changed([](auto&, const fs::path& tree) { ReleaseFixture::writeFile(tree / "_Signature/rider", "x"); }),
     "signature: status -8"},
    {"riderLinkedOutOfTheTree", changed([](auto&, const fs::path& tree) {
         ReleaseFixture::writeFile(tree / "_Signature/rider", "x");
         ReleaseFixture::linkOutOfTree(tree, "_Signature/rider");
     }),
     "mount"},
    {"deepTree", singleEntry("Plovander.app/" + deepFolders + "f"), "mount"},
    {"oversizedContentsList",
     changed([](auto&, const fs::path& tree) { fs::resize_file(tree / "_Signature/CodeResources", 64 << 20); }),
     "signature: status -3"},
    {"otherApplication", released({.identifier = "com.example.other"}), "notNewer"},
    {"sameBuild", released({.build = "1"}), "notNewer"},
    {"notAWholeNumber", released({.build = "2b"}, [](auto& m) { m.build = 2; }), "notNewer"},
    {"otherThanAnnounced", released({}, [](auto& m) { m.build = 3; }), "notNewer"},
};

class UpdateStagingTest : public testing::TestWithParam<Case> {
protected:
    ReleaseFixture fixture;
};

TEST_P(UpdateStagingTest, StagesOnlyAnExactSignedNewerTreeAndLeavesNothingElse) {
    const fs::path source = fixture.folder / "source";
    const fs::path parent = fixture.folder / "installed";
    std::optional<Testing::PrivateMount> disk;
    if (GetParam().diskBytes != 0) {
        fs::create_directories(parent);
        disk.emplace("tmpfs", parent, "tmpfs", 0, "mode=0777,size=" + std::to_string(GetParam().diskBytes));
        if (disk->problem) GTEST_SKIP() << "no small disk to fill: " << *disk->problem;
    }
    const AsTheUpdater user(fixture.folder.path());
    if (!user.ordinary) GTEST_SKIP() << "no ordinary user to become";
    fs::create_directories(source);
    fs::create_directories(parent);
    const fs::path installed = ReleaseFixture::makeTree(parent, {.build = "1"});
    const fs::path archive = fixture.folder / "download.tar.zst";
    const auto manifest = GetParam().make(fixture, source, archive);

    std::setlocale(LC_ALL, "C.UTF-8"); // as the program runs; the release tool keeps the C locale
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    std::string failure;
    try {
        const auto staged = UpdateStaging::stage(archive, manifest, installed, fixture.rules());
        EXPECT_EQ(staged.tree.filename(), installed.filename());
        EXPECT_EQ(staged.tree.parent_path().parent_path(), staged.workFolder);
        EXPECT_TRUE(fs::is_regular_file(staged.tree / "bin/plovander"));
        EXPECT_FALSE(fs::exists(staged.workFolder / "mount"));
        // Not in the signed list, so the installer's modes, whatever the archive said.
        EXPECT_EQ(modeOf(staged.tree), 0755u);
        EXPECT_EQ(modeOf(staged.tree / "_Signature"), 0755u);
        EXPECT_EQ(modeOf(staged.tree / "_Signature/CodeResources"), 0644u);
        fs::remove_all(staged.workFolder);
    } catch (const UpdateFailure& error) {
        failure = error.what();
    } catch (const std::system_error& error) {
        failure = error.what();
    }
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 100'000) << "kB more at the peak";
    EXPECT_EQ(failure, GetParam().failure ? GetParam().failure : "");
    EXPECT_FALSE(fs::exists(archive));
    EXPECT_EQ(std::distance(fs::directory_iterator(parent), fs::directory_iterator()), 1) << "only the installed tree";
    EXPECT_FALSE(fs::exists(fixture.folder.path().parent_path() / "escaped"));
}

INSTANTIATE_TEST_SUITE_P(Releases, UpdateStagingTest, testing::ValuesIn(cases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(UpdateStaging, ATreeNamedLikeTheMountFolderIsStagedWhole) {
    ReleaseFixture fixture;
    fs::create_directories(fixture.folder / "source");
    fs::create_directories(fixture.folder / "installed");
    const fs::path installed = ReleaseFixture::makeTree(fixture.folder / "installed", {.name = "mount", .build = "1"});
    const fs::path archive = fixture.folder / "download.tar.zst";
    const auto manifest = signedRelease(fixture, fixture.folder / "source", archive, {.name = "mount"});
    const auto staged = UpdateStaging::stage(archive, manifest, installed, fixture.rules());
    EXPECT_TRUE(fs::is_regular_file(staged.tree / "Info.json"));
}

TEST(UpdateStaging, LeftoverWorkFoldersAreSweptHoweverDeepAndClosed) {
    Testing::TemporaryDirectory parent;
    const AsTheUpdater user(parent.path());
    if (!user.ordinary) GTEST_SKIP() << "no ordinary user to become";
    fs::path folder = parent / ".Plovander-update-abc123";
    fs::create_directory(folder);
    for (const auto& name : fs::path(deepFolders)) fs::create_directory(folder /= name);
    fs::create_directories(parent / "Plovander.app/bin");
    fs::create_directory_symlink(parent / "Plovander.app", folder / "link");
    for (; folder != parent.path(); folder = folder.parent_path()) fs::permissions(folder, fs::perms::none);
    UpdateStaging::sweepLeftovers(parent / "Plovander.app");
    EXPECT_FALSE(fs::exists(parent / ".Plovander-update-abc123"));
    EXPECT_TRUE(fs::exists(parent / "Plovander.app/bin"));
}

TEST(UpdateStaging, ASweepLeavesOtherMountsAndWhatItCannotRemoveAndRemovesAllElse) {
    Testing::TemporaryDirectory parent;
    const fs::path work = parent / ".Plovander-update-abc123";
    for (const char* folder : {"a/kept", "b/kept", "a/tmpfs", "b/bound", "c"}) fs::create_directories(work / folder);
    fs::create_directories(parent / "outside");
    const Testing::PrivateMount tmpfs("tmpfs", work / "a/tmpfs", "tmpfs", 0),
        bound((parent / "outside").c_str(), work / "b/bound", nullptr, MS_BIND);
    const passwd* nobody = ::getpwnam("nobody");
    if (tmpfs.problem || bound.problem || !nobody) GTEST_SKIP() << "needs root, to mount and to be someone else";
    for (const char* file : {"a/kept/x", "b/kept/x", "a/tmpfs/x", "b/bound/x", "a/x", "b/x", "c/x"}) {
        ReleaseFixture::writeFile(work / file, "x");
    }
    // All is the updater's user's but the folders "kept" and what they hold.
    for (const auto& entry : fs::recursive_directory_iterator(parent.path())) {
        if (entry.path().parent_path().filename() != "kept" && entry.path().filename() != "kept") {
            ::lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid);
        }
    }
    {
        const AsTheUpdater user(parent.path());
        UpdateStaging::sweepLeftovers(parent / "Plovander.app");
    }
    for (const char* kept : {"a/kept/x", "b/kept/x", "a/tmpfs/x", "b/bound/x"}) EXPECT_TRUE(fs::exists(work / kept));
    EXPECT_EQ(modeOf(work / "a/tmpfs"), 01777u);
    EXPECT_EQ(modeOf(parent / "outside"), 0755u);
    EXPECT_FALSE(fs::exists(work / "a/x") || fs::exists(work / "b/x") || fs::exists(work / "c"));
}

TEST(UpdateStaging, LinksAreJudgedByWhereTheyLeadOnDisk) {
    const std::pair<ReleaseFixture::Alteration, std::optional<Refusal::Case>> rows[] = {
        {[](const fs::path& tree) { ReleaseFixture::linkOutOfTree(tree, "bin/plovander"); }, Refusal::contentDiffers},
        {[](const fs::path& tree) { ReleaseFixture::linkOutOfTree(tree, "Info.json"); }, Refusal::contentDiffers},
        {[](const fs::path& tree) { fs::create_symlink("../launcher", tree / "bin/alias"); }, std::nullopt},
    };
    for (const auto& [change, refusal] : rows) {
        ReleaseFixture fixture;
        const fs::path tree = ReleaseFixture::makeTree(fixture.folder.path(), {});
        change(tree);
        ReleaseSignature::sign(tree, fixture.publisher, fixture.notary);
        EXPECT_EQ(problemOf<Refusal>([&] { ReleaseSignature::verify(tree, fixture.trusted()); }), refusal);
    }
}

TEST(ReleaseBuilder, RefusesATreeThatNoContentsListCanDescribe) {
    const ReleaseFixture::Alteration rows[] = {
        [](const fs::path& tree) { ReleaseFixture::writeFile(tree / "bin/new\nline", "x"); },
        [](const fs::path& tree) { fs::create_symlink("bin/plovander ", tree / "spaced"); },
    };
    for (const auto& change : rows) {
        ReleaseFixture fixture;
        const fs::path tree = ReleaseFixture::makeTree(fixture.folder.path(), {});
        change(tree);
        EXPECT_THROW(fixture.release(tree, fixture.folder / "release.tar.zst"), std::runtime_error);
        EXPECT_FALSE(fs::exists(tree / "_Signature"));
        EXPECT_FALSE(fs::exists(fixture.folder / "release.tar.zst"));
    }
}

TEST(UpdateStaging, AMissingPinnedKeyRefusesEveryTree) {
    ReleaseFixture fixture;
    const fs::path tree = ReleaseFixture::makeTree(fixture.folder.path(), {});
    ReleaseSignature::sign(tree, fixture.publisher, fixture.notary);
    try {
        ReleaseSignature::verify(tree, {std::nullopt, fixture.notary.publicKey()});
        ADD_FAILURE() << "accepted";
    } catch (const Refusal& refusal) {
        EXPECT_STREQ(refusal.what(), "requirement");
    }
}

} // namespace
