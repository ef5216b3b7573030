#include "app/updater/UpdateStaging.h"

#include "app/updater/InstalledCopy.h"
#include "app/updater/UpdateFailure.h"
#include "app/updater/WorkFolder.h"
#include "app/updater/release/Descriptor.h"
#include "app/updater/release/FileDigest.h"
#include "app/updater/release/InsideTree.h"
#include "app/updater/release/ReleaseArchive.h"
#include "app/updater/release/ReleaseSignature.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace Plovander {

namespace fs = std::filesystem;

namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

// The downloaded archive itself, not a link in its place.
Descriptor openArchive(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "open " + file.string());
    return Descriptor(fd);
}

fs::path makeWorkFolder(const fs::path& installed) {
    std::string pattern = (installed.parent_path() / UpdateStaging::workFolderPrefix).string() + "XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
    return pattern;
}

// The tree's own folder and `_Signature/` are not in the signed list, so their modes are the
// installer's, whatever the archive said; the three signature files are read by all, written by
// none but the owner. Called once the signature check has found them real folders and files.
void settleUnsignedModes(const fs::path& tree) {
    constexpr auto folder = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec;
    constexpr auto file =
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
    const fs::path signatures = tree / ReleaseSignature::folder;
    fs::permissions(tree, folder);
    fs::permissions(signatures, folder);
    for (const auto& entry : fs::directory_iterator(signatures)) fs::permissions(entry.path(), file);
}

} // namespace

UpdateStaging::Staged UpdateStaging::stage(const fs::path& archive, const TessaloyCore::ReleaseManifest& manifest,
                                           const fs::path& installed, const Rules& rules,
                                           const std::atomic<bool>* stop) {
    struct RemoveArchive {
        const fs::path& path;
        ~RemoveArchive() { WorkFolder::remove(path); }
    } removeArchive{archive};

    const Descriptor image = openArchive(archive);
    if (sha256Hex(descriptorDigest(image.get())) != lowered(manifest.sha256)) {
        throw UpdateFailure(UpdateFailure::Kind::hashMismatch);
    }
    const fs::path work = makeWorkFolder(installed);
    try {
        const fs::path mount = work / mountFolder;
        fs::create_directory(mount);
        try {
            ReleaseArchive::extract(image.get(), mount, stop);
        } catch (const ReleaseArchive::Refused&) {
            throw UpdateFailure(stop && stop->load() ? UpdateFailure::Kind::withdrawn : UpdateFailure::Kind::mount);
        }
        fs::path source = mount / installed.filename();
        if (!fs::is_directory(fs::symlink_status(source))) source = mount / fallbackTreeName;
        if (!fs::is_directory(fs::symlink_status(source))) throw UpdateFailure(UpdateFailure::Kind::noApp);
        // Its own folder, so that a tree named like the mount folder cannot land on it.
        const fs::path staging = work / stagingFolder;
        fs::create_directory(staging);
        const fs::path copy = staging / installed.filename();
        std::error_code moved;
        fs::rename(source, copy, moved);
        if (moved) throw UpdateFailure(UpdateFailure::Kind::noApp);
        WorkFolder::remove(mount);
        verify(copy, manifest, rules);
        // Signed and newer, but it must also start: its program a file of its own.
        if (!InsideTree(copy).holdsRegularFile(InstalledCopy::program)) throw UpdateFailure(UpdateFailure::Kind::noApp);
        settleUnsignedModes(copy);
        return {copy, work};
    } catch (...) {
        WorkFolder::remove(work);
        throw;
    }
}

void UpdateStaging::verify(const fs::path& tree, const TessaloyCore::ReleaseManifest& manifest, const Rules& rules) {
    try {
        ReleaseSignature::verify(tree, rules.keys, rules.architecture);
    } catch (const ReleaseSignature::Refusal& refusal) {
        throw UpdateFailure::signature(refusal.caseName());
    }
    const InstalledCopy copy(tree);
    if (copy.infoText("CFBundleIdentifier") != ReleaseSignature::identifier) {
        throw UpdateFailure(UpdateFailure::Kind::notNewer);
    }
    const auto build = InstalledCopy::parseBuild(copy.infoText("CFBundleVersion").value_or(""));
    if (!build || *build != manifest.build || rules.currentBuild >= *build) {
        throw UpdateFailure(UpdateFailure::Kind::notNewer);
    }
}

void UpdateStaging::sweepLeftovers(const fs::path& installed) {
    WorkFolder::removeLeftovers(installed.parent_path(), workFolderPrefix);
}

} // namespace Plovander
