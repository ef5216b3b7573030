#include "net/channel/P256Curve.h"

#include "net/channel/CryptoError.h"

#include <openssl/objects.h>

namespace TessaloyNet::P256Curve {

EcGroupHandle newGroup() {
    EcGroupHandle group(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
    if (!group) throw CryptoError("could not make the P-256 group");
    return group;
}

bool isGroupName(const char* name) noexcept {
    return OBJ_sn2nid(name) == NID_X9_62_prime256v1 || EC_curve_nist2nid(name) == NID_X9_62_prime256v1;
}

} // namespace TessaloyNet::P256Curve
