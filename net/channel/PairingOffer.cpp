#include "net/channel/PairingOffer.h"

#include "net/channel/RandomBytes.h"

namespace TessaloyNet {

const char* nameOf(PairingOfferRejection rejection) noexcept {
    switch (rejection) {
        case PairingOfferRejection::expired:
            return "expired";
        case PairingOfferRejection::attemptsExhausted:
            return "attemptsExhausted";
        case PairingOfferRejection::alreadyUsed:
            return "alreadyUsed";
    }
    return "unknown";
}

const char* descriptionOf(PairingOfferRejection rejection) noexcept {
    switch (rejection) {
        case PairingOfferRejection::expired:
            return "The code expired.";
        case PairingOfferRejection::attemptsExhausted:
            return "The code was tried too many times.";
        case PairingOfferRejection::alreadyUsed:
            return "The code was already used.";
    }
    return "Something went wrong.";
}

PairingOffer::PairingOffer(PairingCode code, Date createdAt)
    : code(std::move(code)), salt(randomBytes(saltBytes)), createdAt(createdAt) {}

void PairingOffer::validate(Date date) const {
    if (consumed) throw Rejection(PairingOfferRejection::alreadyUsed);
    if (attempts >= maximumAttempts) throw Rejection(PairingOfferRejection::attemptsExhausted);
    if (date >= createdAt + lifetime) throw Rejection(PairingOfferRejection::expired);
}

} // namespace TessaloyNet
