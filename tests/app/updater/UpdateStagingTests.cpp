#include "app/updater/UpdateFailure.h"
#include "app/updater/UpdateStaging.h"
#include "app/updater/release/FileDigest.h"
#include "app/updater/release/ReleaseArchive.h"
#include "tests/app/updater/ReleaseFixture.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

namespace fs = std::filesystem;
using Plovander::ReleaseArchive;
using Plovander::ReleaseSignature;
using Plovander::UpdateFailure;
using Plovander::UpdateStaging;
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

struct Case {
    const char* name;
    // Makes the archive at the given path from a source folder; returns its manifest.
    std::function<TessaloyCore::ReleaseManifest(const ReleaseFixture&, const fs::path& source, const fs::path& archive)>
        make;
    const char* failure; // nullptr: staging succeeds
};

TessaloyCore::ReleaseManifest signedRelease(const ReleaseFixture& fixture, const fs::path& source,
                                            const fs::path& archive, ReleaseFixture::TreeOptions options = {}) {
    return fixture.release(ReleaseFixture::makeTree(source, options), archive);
}

// Signed by the fixture's keys, changed by `change` before packing.
TessaloyCore::ReleaseManifest changedAfterSigning(const ReleaseFixture& fixture, const fs::path& source,
                                                  const fs::path& archive,
                                                  const std::function<void(const fs::path&)>& change) {
    const fs::path tree = ReleaseFixture::makeTree(source, {});
    ReleaseSignature::sign(tree, fixture.publisher, fixture.notary);
    change(tree);
    ReleaseArchive::pack(tree, archive);
    return manifestFor(archive, 2);
}

const Case cases[] = {
    {"valid", [](auto& f, auto& s, auto& a) { return signedRelease(f, s, a); }, nullptr},
    {"upperCaseDigest",
     [](auto& f, auto& s, auto& a) {
         auto manifest = signedRelease(f, s, a);
         std::transform(manifest.sha256.begin(), manifest.sha256.end(), manifest.sha256.begin(), ::toupper);
         return manifest;
     },
     nullptr},
    {"wrongDigest",
     [](auto& f, auto& s, auto& a) {
         auto manifest = signedRelease(f, s, a);
         manifest.sha256[0] = manifest.sha256[0] == '0' ? '1' : '0';
         return manifest;
     },
     "hashMismatch"},
    {"corruptArchive",
     [](auto&, auto&, auto& a) {
         ReleaseFixture::writeFile(a, "not an archive at all");
         return manifestFor(a, 2);
     },
     "mount"},
    {"escapingArchive",
     [](auto&, auto&, auto& a) {
         packSingleEntry(a, "Plovander.app/../../escaped");
         return manifestFor(a, 2);
     },
     "mount"},
    {"absolutePath",
     [](auto&, auto&, auto& a) {
         packSingleEntry(a, "/tmp/escaped");
         return manifestFor(a, 2);
     },
     "mount"},
    {"linkLeavingTheTree",
     [](auto&, auto&, auto& a) {
         packSingleEntry(a, "Plovander.app/escaped", "../../..");
         return manifestFor(a, 2);
     },
     "mount"},
    {"hardLink",
     [](auto&, auto&, auto& a) {
         packSingleEntry(a, "Plovander.app/escaped", "/etc/passwd", true);
         return manifestFor(a, 2);
     },
     "mount"},
    {"noApp", [](auto& f, auto& s, auto& a) { return signedRelease(f, s, a, {.name = "Other.app"}); }, "noApp"},
    {"unsigned",
     [](auto&, auto& s, auto& a) {
         ReleaseArchive::pack(ReleaseFixture::makeTree(s, {}), a);
         return manifestFor(a, 2);
     },
     "signature: status -1"},
    {"foreignPublisher",
     [](auto& f, auto& s, auto& a) {
         const fs::path tree = ReleaseFixture::makeTree(s, {});
         ReleaseSignature::sign(tree, Plovander::SigningKey::generate(), f.notary);
         ReleaseArchive::pack(tree, a);
         return manifestFor(a, 2);
     },
     "signature: status -3"},
    {"otherIdentifier",
     [](auto& f, auto& s, auto& a) {
         return changedAfterSigning(f, s, a, [&](const fs::path& tree) {
             auto list = ReleaseSignature::contentsList(tree, ReleaseSignature::machineArchitecture());
             list.replace(list.find("com.tessaloy"), 3, "org");
             ReleaseFixture::writeFile(tree / "_Signature/CodeResources", list);
             ReleaseFixture::writeFile(tree / "_Signature/CodeResources.sig", [&] {
                 const auto signature =
                     f.publisher.sign({reinterpret_cast<const std::uint8_t*>(list.data()), list.size()});
                 return std::string(signature.begin(), signature.end());
             }());
         });
     },
     "signature: status -4"},
    {"notNotarised",
     [](auto& f, auto& s, auto& a) {
         const fs::path tree = ReleaseFixture::makeTree(s, {});
         ReleaseSignature::sign(tree, f.publisher, Plovander::SigningKey::generate());
         ReleaseArchive::pack(tree, a);
         return manifestFor(a, 2);
     },
     "signature: status -6"},
    {"tamperedFile",
     [](auto& f, auto& s, auto& a) {
         return changedAfterSigning(f, s, a, [](const fs::path& tree) {
             ReleaseFixture::writeFile(tree / "bin/plovander", "#!/bin/sh\necho 3\n");
         });
     },
     "signature: status -7"},
    {"changedMode",
     [](auto& f, auto& s, auto& a) {
         return changedAfterSigning(f, s, a, [](const fs::path& tree) {
             fs::permissions(tree / "Info.json", fs::perms::others_write, fs::perm_options::add);
         });
     },
     "signature: status -7"},
    {"extraFile",
     [](auto& f, auto& s, auto& a) {
         return changedAfterSigning(f, s, a,
                                    [](const fs::path& tree) { ReleaseFixture::writeFile(tree / "bin/extra", "x"); });
     },
     "signature: status -8"},
    {"missingFile",
     [](auto& f, auto& s, auto& a) {
         return changedAfterSigning(f, s, a, [](const fs::path& tree) { fs::remove(tree / "launcher"); });
     },
     "signature: status -8"},
    {"wrongArchitecture",
     [](auto& f, auto& s, auto& a) {
         const fs::path tree = ReleaseFixture::makeTree(s, {});
         ReleaseSignature::sign(tree, f.publisher, f.notary, "elsewhere");
         ReleaseArchive::pack(tree, a);
         return manifestFor(a, 2);
     },
     "signature: status -9"},
    {"otherApplication",
     [](auto& f, auto& s, auto& a) { return signedRelease(f, s, a, {.identifier = "com.example.other"}); }, "notNewer"},
    {"sameBuild", [](auto& f, auto& s, auto& a) { return signedRelease(f, s, a, {.build = "1"}); }, "notNewer"},
    {"notAWholeNumber",
     [](auto& f, auto& s, auto& a) {
         auto manifest = signedRelease(f, s, a, {.build = "2b"});
         manifest.build = 2;
         return manifest;
     },
     "notNewer"},
    {"otherThanAnnounced",
     [](auto& f, auto& s, auto& a) {
         auto manifest = signedRelease(f, s, a);
         manifest.build = 3;
         return manifest;
     },
     "notNewer"},
};

class UpdateStagingTest : public testing::TestWithParam<Case> {
protected:
    ReleaseFixture fixture;
};

TEST_P(UpdateStagingTest, StagesOnlyAnExactSignedNewerTreeAndLeavesNothingElse) {
    const fs::path source = fixture.folder / "source";
    const fs::path parent = fixture.folder / "installed";
    fs::create_directories(source);
    fs::create_directories(parent);
    const fs::path installed = ReleaseFixture::makeTree(parent, {.build = "1"});
    const fs::path archive = fixture.folder / "download.tar.zst";
    const auto manifest = GetParam().make(fixture, source, archive);

    std::string failure;
    try {
        const auto staged = UpdateStaging::stage(archive, manifest, installed, fixture.rules());
        EXPECT_EQ(staged.tree.filename(), installed.filename());
        EXPECT_EQ(staged.tree.parent_path().parent_path(), staged.workFolder);
        EXPECT_TRUE(fs::is_regular_file(staged.tree / "bin/plovander"));
        EXPECT_FALSE(fs::exists(staged.workFolder / "mount"));
        fs::remove_all(staged.workFolder);
    } catch (const UpdateFailure& error) {
        failure = error.what();
    }
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

TEST(UpdateStaging, LeftoverWorkFoldersAreSwept) {
    Testing::TemporaryDirectory parent;
    fs::create_directories(parent / ".Plovander-update-abc123/mount");
    fs::create_directories(parent / "Plovander.app");
    UpdateStaging::sweepLeftovers(parent / "Plovander.app");
    EXPECT_FALSE(fs::exists(parent / ".Plovander-update-abc123"));
    EXPECT_TRUE(fs::exists(parent / "Plovander.app"));
}

TEST(UpdateStaging, AMissingPinnedKeyRefusesEveryTree) {
    ReleaseFixture fixture;
    const fs::path tree = ReleaseFixture::makeTree(fixture.folder.path(), {});
    ReleaseSignature::sign(tree, fixture.publisher, fixture.notary);
    EXPECT_EQ(ReleaseSignature::verify(tree, {std::nullopt, fixture.notary.publicKey()}), "requirement");
    EXPECT_EQ(ReleaseSignature::verify(tree, fixture.trusted()), std::nullopt);
}

} // namespace
