// Feeds arbitrary payloads to the transfer message decoder. Whatever decodes must encode back to
// the same bytes; an offer's safe file name must be usable whatever its name held.
#include "core/ByteReader.h"
#include "core/TransferMessage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace TessaloyCore;

namespace {

void checkSafeFileName(const TransferOffer& offer) {
    const std::string safe = offer.safeFileName();
    const bool usable = !safe.empty() && safe.size() <= TransferOffer::maximumSafeFileNameBytes && isValidUtf8(safe) &&
                        safe.find('/') == std::string::npos && safe.find('\0') == std::string::npos &&
                        safe.front() != '.' && safe.front() != '-';
    if (!usable) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes payload(data, data + size);
    // The raw bytes as a name, valid UTF-8 or not, as a caller on this side might pass them.
    checkSafeFileName({1, TransferPurpose::file, std::string(payload.begin(), payload.end()), "", 0});
    try {
        const TransferMessage message = TransferMessage::decode(WirePacket(WirePacket::Kind::transfer, payload));
        if (message.encoded() != payload) std::abort();
        if (const auto* offer = std::get_if<TransferMessage::Offer>(&message.value)) checkSafeFileName(offer->offer);
    } catch (const TransferMessage::Error&) {
    } catch (const TransferMessage::MessageError&) {
        std::abort();
    } catch (const WireError&) {
    }
    return 0;
}
