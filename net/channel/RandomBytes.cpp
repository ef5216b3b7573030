#include "net/channel/RandomBytes.h"

#include <openssl/rand.h>

#include <stdexcept>

namespace TessaloyNet {

TessaloyCore::Bytes randomBytes(std::size_t count) {
    TessaloyCore::Bytes bytes(count);
    if (count > 0 && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) {
        throw std::runtime_error("the random number generator failed");
    }
    return bytes;
}

} // namespace TessaloyNet
