#include "app/transfers/HostTransfers.h"

#include "base/MainActor.h"
#include "core/OutgoingTransfer.h"
#include "net/channel/RandomBytes.h"
#include "net/send/VideoSender.h"
#include "platform/Pasteboard.h"
#include "platform/TransferFiles.h"

#include <algorithm>
#include <exception>
#include <system_error>

namespace Plovander {

using TessaloyCore::SessionMessage;
using TessaloyCore::TransferOffer;
using TessaloyCore::TransferPurpose;

namespace {

// Uniform over 1 to 4,294,967,295.
std::uint32_t randomTransferID() {
    for (;;) {
        const TessaloyCore::Bytes bytes = TessaloyNet::randomBytes(4);
        const std::uint32_t id = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                                 (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
        if (id != 0) return id;
    }
}

// The last path component, also for a path that ends in a separator.
std::string lastComponent(const std::filesystem::path& file) {
    std::filesystem::path name = file.filename();
    if (name.empty()) name = file.parent_path().filename();
    return name.string();
}

bool isFolder(const std::filesystem::path& file) {
    std::error_code unreadable;
    return std::filesystem::is_directory(file, unreadable);
}

} // namespace

void HostTransfers::send(const std::filesystem::path& file) {
    actor_.assertCurrent();
    const std::string name = lastComponent(file);
    if (isFolder(file)) return setLastProblem(name + " is a folder. Compress it first, then send the .zip.");

    std::unique_ptr<TessaloyNet::FileTransferSource> source;
    try {
        source = std::make_unique<TessaloyNet::FileTransferSource>(file);
    } catch (const std::exception&) {
        return setLastProblem("Couldn't read " + name + ".");
    }
    if (source->size() > largestFile) {
        source->close();
        return setLastProblem(name + " is larger than 1 GB.");
    }

    const TransferOffer offer{randomTransferID(), TransferPurpose::file, name, files_->contentType(file),
                              source->size()};
    enqueue(offer, std::move(source));
}

HostTransfers::PasteboardResult HostTransfers::sendPasteboard() {
    actor_.assertCurrent();
    const std::vector<std::filesystem::path> files = pasteboard_->fileURLs();
    if (!files.empty()) {
        // A folder among them refuses the whole list, files before it included.
        if (std::any_of(files.begin(), files.end(), isFolder)) {
            return PasteboardResult::refused(SessionMessage::ClipboardRefusal::folder);
        }
        for (const auto& file : files) send(file);
        return PasteboardResult::queued();
    }

    const std::vector<std::string> types = pasteboard_->types();
    const bool offersImage = std::any_of(types.begin(), types.end(), [](const std::string& type) {
        return type == Platform::Pasteboard::pngType || type == Platform::Pasteboard::tiffType;
    });
    if (!offersImage) return PasteboardResult::nothing();
    std::optional<TessaloyCore::Bytes> png = pasteboard_->pngImage();
    if (!png) return PasteboardResult::nothing();
    if (png->size() > largestClipboardImage) {
        return PasteboardResult::refused(SessionMessage::ClipboardRefusal::tooLarge);
    }

    const TransferOffer offer{randomTransferID(), TransferPurpose::clipboard, std::string(clipboardImageName),
                              std::string(Platform::Pasteboard::pngType), png->size()};
    enqueue(offer, std::make_unique<TessaloyCore::DataTransferSource>(std::move(*png)));
    return PasteboardResult::queued();
}

void HostTransfers::enqueue(const TransferOffer& offer, Source source) {
    const auto sender = sender_.lock();
    if (!sender || !isAllowed()) {
        if (auto* file = std::get_if<std::unique_ptr<TessaloyNet::FileTransferSource>>(&source)) (*file)->close();
        return setLastProblem("Turn on Allow remote control to send files.");
    }
    if (offer.purpose == TransferPurpose::clipboard) clipboardIDs_.insert({false, offer.id});
    upsert(Activity{offer.id, offer.name, false, 0.0});

    std::unique_ptr<TessaloyCore::TransferSource> reader =
        std::visit([](auto& held) -> std::unique_ptr<TessaloyCore::TransferSource> { return std::move(held); }, source);
    sender->transfers().enqueue(std::make_unique<TessaloyCore::OutgoingTransfer>(offer, std::move(reader), chunkSize));
}

} // namespace Plovander
