#include "app/transfers/HostTransfers.h"

#include "app/trace/TraceLog.h"
#include "base/MainActor.h"
#include "net/transfer/TransferInbox.h"
#include "platform/Pasteboard.h"
#include "platform/TransferFiles.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace Plovander {

using TessaloyCore::TransferCancelReason;
using TessaloyCore::TransferMessage;
using TessaloyCore::TransferOffer;
using TessaloyCore::TransferPurpose;

namespace {

constexpr const char* receiveNotAllowed = "Turn on Allow remote control in Plovander Settings to receive files.";
// Names tried for one file before giving up, so a folder full of look-alikes cannot hold the
// main actor.
constexpr std::uint64_t maximumNameAttempts = 10'000;

void deleteQuietly(const std::filesystem::path& file) {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

std::optional<TessaloyCore::Bytes> contentsOf(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) return std::nullopt;
    TessaloyCore::Bytes bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (stream.bad()) return std::nullopt;
    return bytes;
}

// The name to try the n-th time: the name itself, then BASE + " n." + EXT, or name + " n" without an
// extension. Only the last extension counts, and a leading or trailing dot makes none.
std::string candidateName(const std::string& name, std::uint64_t attempt) {
    if (attempt == 1) return name;
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
        return name + " " + std::to_string(attempt);
    }
    return name.substr(0, dot) + " " + std::to_string(attempt) + name.substr(dot);
}

} // namespace

std::optional<TransferCancelReason> HostTransfers::decide(const TransferOffer&) {
    if (!isAllowed()) return TransferCancelReason::notAllowed;
    return std::nullopt;
}

void HostTransfers::refuseUnreadableOffer(std::uint32_t id) {
    actor_.assertCurrent();
    reply(TransferMessage::cancel(id, TransferCancelReason::failed));
}

void HostTransfers::incomingStarted(const TransferOffer& offer) {
    if (offer.purpose == TransferPurpose::clipboard) clipboardIDs_.insert({true, offer.id});
    upsert(Activity{offer.id, offer.name, true, 0.0});
}

void HostTransfers::incomingProgress(const TransferOffer& offer, std::uint64_t received) {
    upsert(Activity{offer.id, offer.name, true, fraction(received, offer.size)});
}

void HostTransfers::incomingFailed(const TransferOffer& offer, TransferCancelReason reason) {
    removeActivity({true, offer.id});
    if (abortTelling_ && offer.id != abortExcept_) reply(TransferMessage::cancel(offer.id, *abortTelling_));
    if (reason == TransferCancelReason::notAllowed) setLastProblem(receiveNotAllowed);
}

void HostTransfers::abortIncoming(std::optional<TransferCancelReason> tellDevice, std::optional<std::uint32_t> except) {
    const std::shared_ptr<TessaloyNet::TransferInbox> inbox = inbox_;
    if (!inbox) return;
    abortTelling_ = tellDevice;
    abortExcept_ = except;
    inbox->cancelAll();
    abortTelling_.reset();
    abortExcept_.reset();
}

void HostTransfers::saveReceived(const TransferOffer& offer, const std::filesystem::path& work, bool attached) {
    if (attached) removeActivity({true, offer.id});
    // Once its session has ended, a file whose finish arrived is saved all the same, if receiving is
    // still allowed.
    if (!(attached ? isAllowed() : remoteControlAllowed())) {
        deleteQuietly(work);
        // The device believes the transfer arrived.
        if (attached) reply(TransferMessage::cancel(offer.id, TransferCancelReason::notAllowed));
        return setLastProblem(receiveNotAllowed);
    }
    if (offer.purpose != TransferPurpose::clipboard) {
        // The device believes the transfer arrived.
        if (!saveIntoDownloads(offer, work) && attached) {
            reply(TransferMessage::cancel(offer.id, TransferCancelReason::failed));
        }
        return;
    }
    // Pasting acts on this computer for the device: only while its session lasts.
    if (attached) return pasteImage(offer, work);
    deleteQuietly(work);
}

void HostTransfers::pasteImage(const TransferOffer& offer, const std::filesystem::path& work) {
    const std::optional<TessaloyCore::Bytes> bytes = contentsOf(work);
    std::unique_ptr<Platform::Pasteboard::Image> image;
    if (bytes) image = pasteboard_->makeImage(*bytes);
    deleteQuietly(work);
    if (!image) {
        reply(TransferMessage::cancel(offer.id, TransferCancelReason::failed));
        return setLastProblem("The copied image couldn't be read.");
    }

    pasteboard_->clearContents();
    pasteboard_->writeImage(*image);
    if (!offer.contentType.empty()) pasteboard_->setData(*bytes, offer.contentType);
    paste();
    TraceLog::pastedImage(bytes->size());
}

bool HostTransfers::saveIntoDownloads(const TransferOffer& offer, const std::filesystem::path& work) {
    const std::string name = offer.safeFileName();
    const std::filesystem::path folder = files_->downloadsFolder() / receivedFolderName;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        TraceLog::message([&] {
            return "could not save a received file: could not create " + folder.string() + ": " + error.message();
        });
    }
    const std::optional<std::filesystem::path> destination = error ? std::nullopt : claimDownload(work, folder, name);

    if (!destination) {
        deleteQuietly(work);
        addFinished(Finished{QUuid::createUuid(), name, true, Finished::Outcome::failed("Couldn't be saved"),
                             std::nullopt, actor_.now()});
        setLastProblem("Couldn't save " + name + " to Downloads.");
        return false;
    }

    std::filesystem::permissions(*destination,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_read | std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::replace, error);
    files_->setQuarantine(*destination, actor_.now());
    setLastReceived(*destination);
    addFinished(Finished{QUuid::createUuid(), destination->filename().string(), true, Finished::Outcome::done(),
                         *destination, actor_.now()});
    TraceLog::receivedFile(offer.size);
    return true;
}

std::optional<std::filesystem::path> HostTransfers::claimDownload(const std::filesystem::path& work,
                                                                  const std::filesystem::path& folder,
                                                                  const std::string& name) const {
    // Each name is claimed atomically, so a file that appears meanwhile is never replaced.
    for (std::uint64_t attempt = 1; attempt <= maximumNameAttempts; ++attempt) {
        const std::filesystem::path candidate = folder / candidateName(name, attempt);
        try {
            if (files_->moveWithoutReplacing(work, candidate)) return candidate;
        } catch (const std::system_error& failure) {
            TraceLog::message([&] { return std::string("could not save a received file: ") + failure.what(); });
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace Plovander
