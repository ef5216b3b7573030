#include "app/updater/release/FileDigest.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace Plovander {

std::string sha256Hex(const TessaloyCore::Sha256::Digest& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const std::uint8_t byte : digest) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

TessaloyCore::Sha256::Digest descriptorDigest(int fd) {
    TessaloyCore::Sha256 hash;
    std::array<std::uint8_t, 65'536> buffer{};
    while (true) {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count == 0) return hash.digest();
        if (count < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "read");
        }
        hash.update(TessaloyCore::ByteView(buffer.data(), static_cast<std::size_t>(count)));
    }
}

std::string fileSha256Hex(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    const auto fail = [&](const char* what) {
        return std::filesystem::filesystem_error(what, file, std::error_code(errno, std::generic_category()));
    };
    if (fd < 0) throw fail("open");
    try {
        const auto digest = descriptorDigest(fd);
        ::close(fd);
        return sha256Hex(digest);
    } catch (const std::system_error&) {
        const auto error = fail("read");
        ::close(fd);
        throw error;
    }
}

} // namespace Plovander
