#pragma once

#include "net/channel/OpenSslHandles.h"

#include <openssl/obj_mac.h>

namespace TessaloyNet::P256Curve {

// The name OpenSSL's providers know the curve by.
inline constexpr char groupName[] = "prime256v1";

// A fresh group object; throws CryptoError when OpenSSL cannot make one.
EcGroupHandle newGroup();

// Whether an EC group name reported by OpenSSL ("prime256v1", "P-256", ...) is this curve.
bool isGroupName(const char* name) noexcept;

} // namespace TessaloyNet::P256Curve
