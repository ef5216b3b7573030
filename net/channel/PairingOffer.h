#pragma once

#include "core/Bytes.h"
#include "core/CaseError.h"
#include "net/channel/PairingCode.h"

#include <chrono>
#include <cstdint>

namespace TessaloyNet {

enum class PairingOfferRejection { expired, attemptsExhausted, alreadyUsed };
const char* nameOf(PairingOfferRejection rejection) noexcept;
// The sentence for the user.
const char* descriptionOf(PairingOfferRejection rejection) noexcept;

// One offer to pair: a code and salt that a device may use for 300 s and at most 10 handshakes.
struct PairingOffer {
    using Date = std::chrono::system_clock::time_point;
    using Rejection = TessaloyCore::CaseError<PairingOfferRejection>;

    static constexpr std::chrono::seconds lifetime{300};
    static constexpr int maximumAttempts = 10;
    static constexpr std::size_t saltBytes = 16;

    // A fresh random salt, no attempts, not consumed.
    PairingOffer(PairingCode code, Date createdAt);

    PairingCode code;
    TessaloyCore::Bytes salt;
    Date createdAt;
    int attempts = 0;
    bool consumed = false;

    // Throws Rejection: alreadyUsed when consumed, attemptsExhausted after 10 attempts, expired
    // from createdAt + 300 s on. Changes nothing.
    void validate(Date date) const;

    friend bool operator==(const PairingOffer&, const PairingOffer&) = default;
};

} // namespace TessaloyNet
