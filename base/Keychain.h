#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace TessaloyBase {

// Why a keychain operation failed; the message carries the system's own text.
class KeychainError : public std::runtime_error {
public:
    enum class Kind { invalidName, unreadable, writeFailed, removeFailed };

    KeychainError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// Generic-password items addressed by service and account. Reads and writes are whole items; a
// failed write leaves the previous item as it was.
class Keychain {
public:
    using Bytes = std::vector<std::uint8_t>;

    virtual ~Keychain() = default;

    // The item's bytes, or nullopt when there is no such item. Throws KeychainError when the item
    // exists but cannot be read.
    virtual std::optional<Bytes> read(std::string_view service, std::string_view account) const = 0;
    // Creates or replaces the item. Throws KeychainError.
    virtual void write(std::string_view service, std::string_view account, const Bytes& data) = 0;
    // Deletes the item; returns whether there was one. Throws KeychainError.
    virtual bool remove(std::string_view service, std::string_view account) = 0;
};

} // namespace TessaloyBase
