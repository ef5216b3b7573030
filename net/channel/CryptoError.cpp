#include "net/channel/CryptoError.h"

#include <openssl/err.h>

namespace TessaloyNet {
namespace {

std::string withLibraryErrors(const std::string& what) {
    std::string message = what;
    const char* separator = ": ";
    while (const unsigned long code = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        message += separator;
        message += text;
        separator = "; ";
    }
    return message;
}

} // namespace

CryptoError::CryptoError(const std::string& what) : std::runtime_error(withLibraryErrors(what)) {}

} // namespace TessaloyNet
