#pragma once

#include "core/TransferPurpose.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace TessaloyCore {

// The announcement of one transfer, as the sender declares it. Nothing is checked here: the
// encoder checks the text limits, the receiver the size.
struct TransferOffer {
    static constexpr std::size_t maximumNameBytes = 255;
    static constexpr std::size_t maximumContentTypeBytes = 128;
    static constexpr std::size_t maximumSafeFileNameBytes = 200;

    // Chosen by the sender; identifies the transfer in every later message.
    std::uint32_t id = 0;
    TransferPurpose purpose = TransferPurpose::file;
    std::string name;
    std::string contentType;
    // The number of bytes that will follow in chunks.
    std::uint64_t size = 0;

    // A name derived from `name` that can be created inside a folder: valid UTF-8 of 1 to 200
    // bytes, without control, bidirectional-formatting or path-separator characters, never
    // starting with ".", "-" or white space; "Received file" when nothing usable is left.
    std::string safeFileName() const;

    friend bool operator==(const TransferOffer&, const TransferOffer&) = default;
};

} // namespace TessaloyCore
