#pragma once

#include <stdexcept>
#include <string>

namespace TessaloyNet {

// A key, certificate or derivation that OpenSSL refused or failed to make. The message names what
// was attempted, followed by OpenSSL's own text when it gave one.
class CryptoError : public std::runtime_error {
public:
    // Takes (and so clears) the calling thread's OpenSSL error queue, which would otherwise confuse
    // the next TLS call on this thread.
    explicit CryptoError(const std::string& what);
};

} // namespace TessaloyNet
