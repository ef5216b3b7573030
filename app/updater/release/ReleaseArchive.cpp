#include "app/updater/release/ReleaseArchive.h"

#include "app/updater/release/InsideTree.h"

#include <archive.h>
#include <archive_entry.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace Plovander {

namespace fs = std::filesystem;

namespace {

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;
using Writer = std::unique_ptr<archive, decltype(&archive_write_free)>;
using Entry = std::unique_ptr<archive_entry, decltype(&archive_entry_free)>;

[[noreturn]] void refuse(archive* handle, const std::string& what) {
    const char* reason = handle ? archive_error_string(handle) : nullptr;
    throw ReleaseArchive::Refused(reason ? what + ": " + reason : what);
}

// A full disk is the system's reason, not the archive's fault.
[[noreturn]] void failWriting(archive* disk, const std::string& what) {
    const int error = archive_errno(disk);
    if (error == ENOSPC || error == EDQUOT) throw std::system_error(error, std::generic_category(), what);
    refuse(disk, what);
}

// A relative path of plain names, without "." or ".." parts.
bool isPlainRelative(const fs::path& path) {
    if (path.empty() || path.is_absolute()) return false;
    for (const auto& part : path) {
        if (part == ".." || part == ".") return false;
    }
    return true;
}

void writeFileData(archive* writer, const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) throw ReleaseArchive::Refused("couldn't read " + file.string());
    std::array<char, 65'536> buffer{};
    ssize_t count = 0;
    while ((count = ::read(fd, buffer.data(), buffer.size())) > 0) {
        if (archive_write_data(writer, buffer.data(), static_cast<std::size_t>(count)) != count) {
            ::close(fd);
            refuse(writer, "couldn't pack " + file.string());
        }
    }
    ::close(fd);
    if (count < 0) throw ReleaseArchive::Refused("couldn't read " + file.string());
}

void checkEntry(archive_entry* entry, const fs::path& path) {
    if (!isPlainRelative(path)) throw ReleaseArchive::Refused("path leaves the tree: " + path.string());
    const auto depth = std::distance(path.begin(), path.end());
    if (depth > ReleaseArchive::maximumDepth) throw ReleaseArchive::Refused("too deep: " + path.string());
    if (archive_entry_hardlink(entry)) throw ReleaseArchive::Refused("hard link: " + path.string());
    const mode_t mode = archive_entry_mode(entry);
    if (mode & (S_ISUID | S_ISGID)) throw ReleaseArchive::Refused("set-id bits: " + path.string());
    const auto type = archive_entry_filetype(entry);
    if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) {
        throw ReleaseArchive::Refused("not a file, folder or link: " + path.string());
    }
    // Other links are judged once all is unpacked; a top-level one has no tree to stay in.
    if (type == AE_IFLNK && depth < 2) {
        throw ReleaseArchive::Refused("link leaves the tree: " + path.string());
    }
}

// Where a link leads depends on the links unpacked after it, so each is judged once all are on
// disk: followed through the others, it must end inside its top-level folder.
void checkLinks(const fs::path& destination) try {
    for (const auto& top : fs::directory_iterator(destination)) {
        if (!top.is_directory() || top.is_symlink()) continue;
        const InsideTree inside(top.path());
        for (const auto& item : fs::recursive_directory_iterator(top.path())) {
            const fs::path path = item.path().lexically_relative(top.path());
            if (item.is_symlink() && !inside.reaches(path)) {
                throw ReleaseArchive::Refused("link leaves the tree: " + (top.path().filename() / path).string());
            }
        }
    }
} catch (const fs::filesystem_error& error) {
    throw ReleaseArchive::Refused(std::string("couldn't read what was unpacked: ") + error.what());
}

} // namespace

void ReleaseArchive::pack(const fs::path& tree, const fs::path& archivePath) {
    const Writer writer(archive_write_new(), archive_write_free);
    // Names are bytes: left untranslated, so that no locale refuses them and no reader normalises
    // them away from what was signed.
    if (archive_write_set_format_pax_restricted(writer.get()) != ARCHIVE_OK ||
        archive_write_set_format_option(writer.get(), "pax", "hdrcharset", "BINARY") != ARCHIVE_OK ||
        archive_write_add_filter_zstd(writer.get()) != ARCHIVE_OK ||
        archive_write_open_filename(writer.get(), archivePath.c_str()) != ARCHIVE_OK) {
        refuse(writer.get(), "couldn't create " + archivePath.string());
    }
    std::vector<fs::path> paths{tree};
    for (const auto& item : fs::recursive_directory_iterator(tree)) paths.push_back(item.path());
    for (const fs::path& path : paths) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) throw Refused("couldn't read " + path.string());
        const Entry entry(archive_entry_new(), archive_entry_free);
        const fs::path name = tree.filename() / path.lexically_relative(tree);
        archive_entry_set_pathname(entry.get(), name.lexically_normal().generic_string().c_str());
        archive_entry_copy_stat(entry.get(), &info);
        archive_entry_set_uid(entry.get(), 0);
        archive_entry_set_gid(entry.get(), 0);
        if (S_ISLNK(info.st_mode)) archive_entry_set_symlink(entry.get(), fs::read_symlink(path).c_str());
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK) {
            refuse(writer.get(), "couldn't pack " + path.string());
        }
        if (S_ISREG(info.st_mode)) writeFileData(writer.get(), path);
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK) refuse(writer.get(), "couldn't finish the archive");
}

void ReleaseArchive::extract(int fd, const fs::path& destination, const std::atomic<bool>* stop) {
    const auto stopped = [stop] {
        if (stop && stop->load()) throw Refused("stopped");
    };
    if (::lseek(fd, 0, SEEK_SET) != 0) throw Refused("couldn't rewind the archive");
    const Reader reader(archive_read_new(), archive_read_free);
    archive_read_support_filter_zstd(reader.get());
    archive_read_support_format_tar(reader.get());
    if (archive_read_open_fd(reader.get(), fd, 65'536) != ARCHIVE_OK) refuse(reader.get(), "not a release archive");

    const Writer disk(archive_write_disk_new(), archive_write_free);
    archive_write_disk_set_options(disk.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                   ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_NO_OVERWRITE);
    std::uint64_t count = 0;
    std::uint64_t expanded = 0;
    archive_entry* entry = nullptr;
    int status = ARCHIVE_OK;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        stopped();
        if (++count > maximumEntries) throw Refused("too many entries");
        const fs::path path = archive_entry_pathname(entry);
        checkEntry(entry, path);
        archive_entry_set_pathname(entry, (destination / path).c_str());
        archive_entry_set_uid(entry, ::getuid());
        archive_entry_set_gid(entry, ::getgid());
        if (archive_write_header(disk.get(), entry) != ARCHIVE_OK)
            failWriting(disk.get(), "couldn't unpack " + path.string());
        std::array<char, 65'536> buffer{};
        la_ssize_t read = 0;
        while ((read = archive_read_data(reader.get(), buffer.data(), buffer.size())) > 0) {
            stopped();
            expanded += static_cast<std::uint64_t>(read);
            if (expanded > maximumExpandedBytes) throw Refused("too large when unpacked");
            if (archive_write_data(disk.get(), buffer.data(), static_cast<std::size_t>(read)) != read) {
                failWriting(disk.get(), "couldn't unpack " + path.string());
            }
        }
        if (read < 0) refuse(reader.get(), "damaged archive");
        if (archive_write_finish_entry(disk.get()) != ARCHIVE_OK)
            failWriting(disk.get(), "couldn't unpack " + path.string());
    }
    if (status != ARCHIVE_EOF) refuse(reader.get(), "damaged archive");
    if (count == 0) throw Refused("empty archive");
    if (archive_write_close(disk.get()) != ARCHIVE_OK) failWriting(disk.get(), "couldn't finish unpacking");
    checkLinks(destination);
}

} // namespace Plovander
