#include "app/updater/release/ReleaseSignature.h"

#include "app/updater/release/FileDigest.h"
#include "app/updater/release/InsideTree.h"
#include "core/Sha256.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>
#include <vector>

namespace Plovander {

namespace fs = std::filesystem;

namespace {

// The refusals, as the status numbers the updater reports.
enum class Status : int {
    unsigned_ = -1,
    malformed = -2,
    publisherSignature = -3,
    wrongIdentifier = -4,
    wrongTeam = -5,
    notNotarised = -6,
    contentDiffers = -7,
    unlistedOrMissing = -8,
    wrongArchitecture = -9,
};

std::string statusText(Status status) { return "status " + std::to_string(static_cast<int>(status)); }

constexpr std::string_view contentsFile = "CodeResources";
constexpr std::string_view publisherFile = "CodeResources.sig";
constexpr std::string_view notaryFile = "Notarization.sig";

// An entry that no contents line can describe.
struct Unlistable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string octal(mode_t mode) {
    std::ostringstream text;
    text << std::oct << (mode & 07777);
    return text.str();
}

// Path -> its line, for every entry below the tree except the signature folder. Throws
// Unlistable for a name holding a newline or a link target holding a space or a newline.
std::map<std::string, std::string> entries(const fs::path& tree) {
    std::map<std::string, std::string> lines;
    fs::recursive_directory_iterator walk(tree);
    for (auto it = fs::begin(walk); it != fs::end(walk); ++it) {
        const std::string path = it->path().lexically_relative(tree).generic_string();
        if (path == ReleaseSignature::folder) {
            it.disable_recursion_pending();
            continue;
        }
        if (path.find('\n') != std::string::npos) throw Unlistable("a name holds a newline: " + path);
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) != 0) {
            throw fs::filesystem_error("lstat", it->path(), std::error_code(errno, std::generic_category()));
        }
        if (S_ISDIR(info.st_mode)) {
            lines[path] = "d " + octal(info.st_mode) + " " + path;
        } else if (S_ISREG(info.st_mode)) {
            lines[path] = "f " + octal(info.st_mode) + " " + std::to_string(info.st_size) + " " +
                          fileSha256Hex(it->path()) + " " + path;
        } else if (S_ISLNK(info.st_mode)) {
            const std::string target = fs::read_symlink(it->path()).string();
            if (target.find_first_of(" \n") != std::string::npos) {
                throw Unlistable("a link's target holds a space or a newline: " + path);
            }
            lines[path] = "l " + target + " " + path;
        } else {
            // Devices, sockets and pipes have no place in a release; listing them makes them differ.
            lines[path] = "? " + path;
        }
    }
    return lines;
}

std::string header(std::string_view architecture) {
    return "identifier " + std::string(ReleaseSignature::identifier) + "\nteam " + std::string(ReleaseSignature::team) +
           "\narch " + std::string(architecture) + "\n";
}

TessaloyCore::ByteView bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TessaloyCore::Bytes notaryMessage(std::string_view contents) {
    TessaloyCore::Bytes message(ReleaseSignature::notaryPrefix.begin(), ReleaseSignature::notaryPrefix.end());
    const auto digest = TessaloyCore::Sha256::of(bytesOf(contents));
    message.insert(message.end(), digest.begin(), digest.end());
    return message;
}

void writeWhole(const fs::path& file, std::string_view text) {
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!stream.flush()) throw std::runtime_error("couldn't write " + file.string());
}

// The path of an entry line, read by its fixed fields ("d <mode> <path>", "f <mode> <size>
// <sha256> <path>", "l <target> <path>"): whatever follows them, spaces included.
std::optional<std::string> listedPath(std::string_view line) {
    const std::size_t fields = line.starts_with("f ") ? 4 : line.starts_with("d ") || line.starts_with("l ") ? 2 : 0;
    if (fields == 0) return std::nullopt;
    for (std::size_t field = 0; field < fields; ++field) {
        const std::size_t space = line.find(' ');
        if (space == 0 || space == std::string_view::npos) return std::nullopt;
        line.remove_prefix(space + 1);
    }
    if (line.empty()) return std::nullopt;
    return std::string(line);
}

// `_Signature/` must be a real folder holding nothing but its three regular files; nullopt when
// it is, else the refusal.
std::optional<std::string> signatureFolderRefusal(const fs::path& folder) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        return errno == ENOENT ? statusText(Status::unsigned_) : std::string(std::strerror(errno));
    }
    if (!S_ISDIR(info.st_mode)) return statusText(Status::unlistedOrMissing);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        const bool known = name == contentsFile || name == publisherFile || name == notaryFile;
        if (!known || !entry.is_regular_file(error) || entry.is_symlink(error)) {
            return statusText(Status::unlistedOrMissing);
        }
    }
    if (error) return std::string(std::strerror(error.value()));
    return std::nullopt;
}

struct ListedHeader {
    std::string identifier;
    std::string team;
    std::string architecture;
    std::map<std::string, std::string> lines;
};

std::optional<ListedHeader> parse(const std::string& contents) {
    std::istringstream stream(contents);
    ListedHeader listed;
    std::string line;
    const auto field = [&](std::string_view key, std::string& into) {
        if (!std::getline(stream, line) || !line.starts_with(std::string(key) + " ")) return false;
        into = line.substr(key.size() + 1);
        return true;
    };
    if (!field("identifier", listed.identifier) || !field("team", listed.team) || !field("arch", listed.architecture)) {
        return std::nullopt;
    }
    std::string previous;
    while (std::getline(stream, line)) {
        auto path = listedPath(line);
        if (!path || (!previous.empty() && *path <= previous)) return std::nullopt;
        previous = *path;
        listed.lines.emplace(std::move(*path), line);
    }
    return listed;
}

} // namespace

std::string ReleaseSignature::machineArchitecture() {
    struct utsname name {};
    ::uname(&name);
    return name.machine;
}

std::string ReleaseSignature::contentsList(const fs::path& tree, std::string_view architecture) {
    std::string list = header(architecture);
    for (const auto& [path, line] : entries(tree)) list += line + "\n";
    return list;
}

void ReleaseSignature::sign(const fs::path& tree, const SigningKey& publisher, const SigningKey& notary,
                            std::string_view architecture) {
    const std::string contents = contentsList(tree, architecture);
    const fs::path signatures = tree / folder;
    fs::create_directories(signatures);
    writeWhole(signatures / contentsFile, contents);
    const auto publisherSignature = publisher.sign(bytesOf(contents));
    writeWhole(signatures / publisherFile,
               std::string_view(reinterpret_cast<const char*>(publisherSignature.data()), publisherSignature.size()));
    const auto notarySignature = notary.sign(notaryMessage(contents));
    writeWhole(signatures / notaryFile,
               std::string_view(reinterpret_cast<const char*>(notarySignature.data()), notarySignature.size()));
}

std::optional<std::string> ReleaseSignature::verify(const fs::path& tree, const TrustedKeys& keys,
                                                    std::string_view architecture) {
    if (!keys.publisher || !keys.notary) return "requirement";
    std::optional<InsideTree> inside;
    try {
        inside.emplace(tree);
    } catch (const std::system_error& error) {
        return std::string(std::strerror(error.code().value()));
    }
    const fs::path signatures(folder);
    if (const auto refusal = signatureFolderRefusal(tree / signatures)) return refusal;

    const auto contents = inside->regularFile(signatures / contentsFile);
    const auto publisherSignature = inside->regularFile(signatures / publisherFile);
    const auto notarySignature = inside->regularFile(signatures / notaryFile);
    if (!contents || !publisherSignature || publisherSignature->size() != std::tuple_size_v<SignatureBytes>) {
        return statusText(Status::malformed);
    }
    const auto listed = parse(*contents);
    if (!listed) return statusText(Status::malformed);
    if (!verifySignature(*keys.publisher, bytesOf(*contents), bytesOf(*publisherSignature))) {
        return statusText(Status::publisherSignature);
    }
    if (listed->identifier != identifier) return statusText(Status::wrongIdentifier);
    if (listed->team != team) return statusText(Status::wrongTeam);
    if (!notarySignature || !verifySignature(*keys.notary, notaryMessage(*contents), bytesOf(*notarySignature))) {
        return statusText(Status::notNotarised);
    }
    if (listed->architecture != architecture) return statusText(Status::wrongArchitecture);

    std::map<std::string, std::string> present;
    try {
        present = entries(tree);
    } catch (const fs::filesystem_error& error) {
        return std::string(std::strerror(error.code().value()));
    } catch (const Unlistable&) {
        return statusText(Status::unlistedOrMissing);
    }
    const auto samePaths = [](const auto& a, const auto& b) { return a.first == b.first; };
    if (!std::equal(present.begin(), present.end(), listed->lines.begin(), listed->lines.end(), samePaths)) {
        return statusText(Status::unlistedOrMissing);
    }
    for (const auto& [path, line] : present) {
        if (listed->lines.at(path) != line) return statusText(Status::contentDiffers);
        // Judged by where the link leads on disk, through any other links, not by its text.
        if (line.starts_with("l ") && !inside->reaches(path)) return statusText(Status::contentDiffers);
    }
    return std::nullopt;
}

} // namespace Plovander
