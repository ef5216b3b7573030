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
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

namespace Plovander {

namespace fs = std::filesystem;

namespace {

using Refusal = ReleaseSignature::Refusal;

Refusal unreadable(int error) { return Refusal(Refusal::unreadable, std::strerror(error)); }

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

// `_Signature/` must be a real folder holding nothing but its three regular files.
void checkSignatureFolder(const fs::path& folder) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) throw errno == ENOENT ? Refusal(Refusal::unsigned_) : unreadable(errno);
    if (!S_ISDIR(info.st_mode)) throw Refusal(Refusal::unlistedOrMissing);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        const bool known = name == contentsFile || name == publisherFile || name == notaryFile;
        if (!known || !entry.is_regular_file(error) || entry.is_symlink(error)) {
            throw Refusal(Refusal::unlistedOrMissing);
        }
    }
    if (error) throw unreadable(error.value());
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

ReleaseSignature::Refusal::Refusal(Case value, std::string_view systemText)
    : value_(value),
      caseName_(value == requirement  ? std::string("requirement")
                : value == unreadable ? std::string(systemText)
                                      : "status " + std::to_string(static_cast<int>(value))) {}

void ReleaseSignature::verify(const fs::path& tree, const TrustedKeys& keys, std::string_view architecture) {
    if (!keys.publisher || !keys.notary) throw Refusal(Refusal::requirement);
    std::optional<InsideTree> inside;
    try {
        inside.emplace(tree);
    } catch (const std::system_error& error) {
        throw unreadable(error.code().value());
    }
    const fs::path signatures(folder);
    checkSignatureFolder(tree / signatures);

    // Nothing is parsed before its signature holds, and a list larger than any real tree's is not
    // even read.
    const fs::path list = signatures / contentsFile;
    const auto contents = inside->regularFile(list, maximumContentsBytes);
    if (!contents && inside->holdsRegularFile(list)) throw Refusal(Refusal::publisherSignature);
    constexpr std::size_t signatureBytes = std::tuple_size_v<SignatureBytes>;
    const auto publisherSignature = inside->regularFile(signatures / publisherFile, signatureBytes);
    const auto notarySignature = inside->regularFile(signatures / notaryFile, signatureBytes);
    if (!contents || !publisherSignature || publisherSignature->size() != signatureBytes) {
        throw Refusal(Refusal::malformed);
    }
    if (!verifySignature(*keys.publisher, bytesOf(*contents), bytesOf(*publisherSignature))) {
        throw Refusal(Refusal::publisherSignature);
    }
    const auto listed = parse(*contents);
    if (!listed) throw Refusal(Refusal::malformed);
    if (listed->identifier != identifier) throw Refusal(Refusal::wrongIdentifier);
    if (listed->team != team) throw Refusal(Refusal::wrongTeam);
    if (!notarySignature || !verifySignature(*keys.notary, notaryMessage(*contents), bytesOf(*notarySignature))) {
        throw Refusal(Refusal::notNotarised);
    }
    if (listed->architecture != architecture) throw Refusal(Refusal::wrongArchitecture);

    std::map<std::string, std::string> present;
    try {
        present = entries(tree);
    } catch (const fs::filesystem_error& error) {
        throw unreadable(error.code().value());
    } catch (const Unlistable&) {
        throw Refusal(Refusal::unlistedOrMissing);
    }
    const auto samePaths = [](const auto& a, const auto& b) { return a.first == b.first; };
    if (!std::equal(present.begin(), present.end(), listed->lines.begin(), listed->lines.end(), samePaths)) {
        throw Refusal(Refusal::unlistedOrMissing);
    }
    for (const auto& [path, line] : present) {
        if (listed->lines.at(path) != line) throw Refusal(Refusal::contentDiffers);
        // Judged by where the link leads on disk, through any other links, not by its text.
        if (line.starts_with("l ") && !inside->reaches(path)) throw Refusal(Refusal::contentDiffers);
    }
}

} // namespace Plovander
