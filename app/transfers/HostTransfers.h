#pragma once

#include "base/BlockingQueue.h"
#include "core/DataTransferSource.h"
#include "core/SessionMessage.h"
#include "core/TransferCancelReason.h"
#include "core/TransferMessage.h"
#include "core/TransferOffer.h"
#include "net/transfer/FileTransferSource.h"

#include <QObject>
#include <QUuid>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace TessaloyBase {
class MainActor;
}
namespace Platform {
class Pasteboard;
class TransferFiles;
} // namespace Platform

namespace TessaloyNet {
class TransferInbox;
class VideoSender;
} // namespace TessaloyNet

namespace Plovander {

// The host side of file and clipboard transfers, and the one object the views watch for them: the
// transfers running now, those that ended, the last file received and the last problem.
//
// It owns the incoming inbox of the attached session and reaches the outgoing queue through that
// session's media sender, which it holds weakly. Everything runs on the main actor. The inbox is
// driven only from here and decides there; it writes received files on one queue of the blocking pool
// and hashes them on another beside it, whose outcomes (progress, the verified file, a failed disk)
// are posted back. The main actor never waits for them, but at shutdown.
// The outbox reports from the channel's queue, and those reports are posted to the main actor too.
// The main actor must outlive every sender this object was attached to.
class HostTransfers final : public QObject {
    Q_OBJECT

public:
    using Date = std::chrono::system_clock::time_point;

    static constexpr std::uint64_t largestFile = 1'073'741'824;
    static constexpr std::uint64_t largestClipboardImage = 26'214'400;
    static constexpr std::size_t chunkSize = 65'536;
    static constexpr std::size_t finishedLimit = 30;
    static constexpr std::size_t recentlySentLimit = 30;
    static constexpr std::string_view clipboardImageName = "Image.png";
    static constexpr std::string_view receivedFolderName = "Plovander";

    // One running transfer.
    struct Activity {
        // A row's identity: the two sides choose their ids independently, so an incoming and an
        // outgoing transfer may carry the same id.
        struct Key {
            bool isIncoming = false;
            std::uint32_t id = 0;
            friend auto operator<=>(const Key&, const Key&) = default;
        };

        std::uint32_t id = 0;
        std::string name;
        bool isIncoming = false;
        // The part transferred, 0 to 1.
        double fraction = 0;

        Key key() const { return {isIncoming, id}; }
        friend bool operator==(const Activity&, const Activity&) = default;
    };

    // One ended transfer.
    struct Finished {
        struct Outcome {
            struct Failed {
                std::string text;
                friend bool operator==(const Failed&, const Failed&) = default;
            };
            struct Done {
                friend bool operator==(const Done&, const Done&) = default;
            };
            struct Cancelled {
                friend bool operator==(const Cancelled&, const Cancelled&) = default;
            };
            using Value = std::variant<Failed, Done, Cancelled>;

            Value value;

            static Outcome failed(std::string text) { return {Failed{std::move(text)}}; }
            static Outcome done() { return {Done{}}; }
            static Outcome cancelled() { return {Cancelled{}}; }

            friend bool operator==(const Outcome&, const Outcome&) = default;
        };

        QUuid id;
        std::string name;
        bool isIncoming = false;
        Outcome outcome;
        // The saved file, for a file received into Downloads.
        std::optional<std::filesystem::path> url;
        Date date;

        friend bool operator==(const Finished&, const Finished&) = default;
    };

    // What sendPasteboard() did with the clipboard.
    struct PasteboardResult {
        // Nothing was sent; the device is told why.
        struct Refused {
            TessaloyCore::SessionMessage::ClipboardRefusal reason{};
            friend bool operator==(const Refused&, const Refused&) = default;
        };
        // Handed to the sending steps (single files may still have failed with a problem text).
        struct Queued {
            friend bool operator==(const Queued&, const Queued&) = default;
        };
        // Neither files nor an image that can be sent; the caller falls back to the text.
        struct Nothing {
            friend bool operator==(const Nothing&, const Nothing&) = default;
        };
        using Value = std::variant<Refused, Queued, Nothing>;

        Value value;

        static PasteboardResult refused(TessaloyCore::SessionMessage::ClipboardRefusal reason) {
            return {Refused{reason}};
        }
        static PasteboardResult queued() { return {Queued{}}; }
        static PasteboardResult nothing() { return {Nothing{}}; }

        friend bool operator==(const PasteboardResult&, const PasteboardResult&) = default;
    };

    // Whether transfers may run now; set by the controller right after creation.
    std::function<bool()> isAllowed = [] { return false; };
    // Whether the user allows remote control, whatever the session: a file whose session has ended
    // while it was being flushed is saved only if so. Set by the controller right after creation.
    std::function<bool()> remoteControlAllowed = [] { return false; };
    // Presses the paste shortcut on this computer; set by the controller right after creation.
    std::function<void()> paste = [] {};

    // The pasteboard and the files must outlive this object, like the actor. Work files left by an
    // earlier run that was cut off are deleted, off the main actor.
    HostTransfers(TessaloyBase::MainActor& actor, std::shared_ptr<Platform::Pasteboard> pasteboard,
                  std::shared_ptr<Platform::TransferFiles> files, QObject* parent = nullptr);
    // Ends incoming transfers silently, deleting their partial files, and waits for the worker: for
    // shutdown.
    ~HostTransfers() override;

    const std::vector<Activity>& active() const noexcept { return active_; }
    // Newest first, at most `finishedLimit`.
    const std::vector<Finished>& finished() const noexcept { return finished_; }
    // The views may empty the list.
    void setFinished(std::vector<Finished> finished);
    const std::optional<std::filesystem::path>& lastReceived() const noexcept { return lastReceived_; }
    const std::optional<std::string>& lastProblem() const noexcept { return lastProblem_; }
    // The views clear it to dismiss it.
    void setLastProblem(std::optional<std::string> problem);

    // Waits until the received files' queues have done what was handed to them; their outcomes may
    // still be on their way to the main actor. For tests and shutdown.
    void waitForReceiving();
    // The attached session's inbox; nullptr while detached.
    TessaloyNet::TransferInbox* inbox() const noexcept { return inbox_.get(); }
    // The attached session's sender, while it exists.
    std::shared_ptr<TessaloyNet::VideoSender> sender() const { return sender_.lock(); }

    // Connects to a new session's media sender (detaching first) with a new inbox.
    void attach(const std::shared_ptr<TessaloyNet::VideoSender>& sender);
    // Disconnects from the session without waiting for the disk: incoming transfers still receiving
    // end without telling the device (the session is over) and their rows go, their files deleted by
    // their queues, while those whose finish has arrived are still saved; files still being sent
    // become failed finished rows. Finished rows, the last file and the last problem stay.
    void detach();

    // A transfer message from the device.
    void handle(TessaloyCore::TransferMessage message);
    // The device's offer under `id` could not be read: it is refused as failed, as any refused offer
    // is answered, so that the device does not wait for it.
    void refuseUnreadableOffer(std::uint32_t id);
    // Remote control was switched off: every running transfer stops, the device is told of each.
    void cancelAll();
    // The user cancels one running transfer: an outgoing one with this id if there is one, else the
    // incoming one.
    void cancel(std::uint32_t id);
    // The user cancels exactly the transfer of this row.
    void cancel(Activity::Key key);

    // Checks one file and queues it for the device; problems go to lastProblem.
    void send(const std::filesystem::path& file);
    // Offers the clipboard's files, or else its image, to the device.
    PasteboardResult sendPasteboard();

Q_SIGNALS:
    void activeChanged();
    void finishedChanged();
    void lastReceivedChanged();
    void lastProblemChanged();

private:
    using Source = std::variant<std::unique_ptr<TessaloyNet::FileTransferSource>,
                                std::unique_ptr<TessaloyCore::DataTransferSource>>;

    // Sending.
    void enqueue(const TessaloyCore::TransferOffer& offer, Source source);
    void outgoingProgress(std::uint32_t id, std::uint64_t sent, std::uint64_t total);
    void outgoingFinished(std::uint32_t id, std::optional<TessaloyCore::TransferCancelReason> reason);
    void rememberSent(std::uint32_t id, const QUuid& row);

    // Receiving.
    std::optional<TessaloyCore::TransferCancelReason> decide(const TessaloyCore::TransferOffer& offer);
    void incomingStarted(const TessaloyCore::TransferOffer& offer);
    void incomingProgress(const TessaloyCore::TransferOffer& offer, std::uint64_t received);
    void incomingFailed(const TessaloyCore::TransferOffer& offer, TessaloyCore::TransferCancelReason reason);
    // `attached`: the transfer's session is still attached. Otherwise its row went with it, and its id
    // may be another session's by now.
    void saveReceived(const TessaloyCore::TransferOffer& offer, const std::filesystem::path& work, bool attached);
    void pasteImage(const TessaloyCore::TransferOffer& offer, const std::filesystem::path& work);
    // Whether the file was saved.
    bool saveIntoDownloads(const TessaloyCore::TransferOffer& offer, const std::filesystem::path& work);
    // Moves the work file into `folder` under the first free name for `name`; nullopt when it could
    // not be moved.
    std::optional<std::filesystem::path> claimDownload(const std::filesystem::path& work,
                                                       const std::filesystem::path& folder,
                                                       const std::string& name) const;
    // Ends every incoming transfer; with a reason, the device is told of each (but for `except`).
    void abortIncoming(std::optional<TessaloyCore::TransferCancelReason> tellDevice,
                       std::optional<std::uint32_t> except = std::nullopt);

    // Both directions.
    void reply(TessaloyCore::TransferMessage message);
    void refusalNotice(TessaloyCore::TransferCancelReason reason);
    void upsert(Activity row);
    void removeActivity(Activity::Key key);
    void addFinished(Finished row);
    void setActive(std::vector<Activity> active);
    void setLastReceived(std::optional<std::filesystem::path> file);
    static double fraction(std::uint64_t count, std::uint64_t total);

    TessaloyBase::MainActor& actor_;
    const std::shared_ptr<Platform::Pasteboard> pasteboard_;
    const std::shared_ptr<Platform::TransferFiles> files_;

    std::vector<Activity> active_;
    std::vector<Finished> finished_;
    std::optional<std::filesystem::path> lastReceived_;
    std::optional<std::string> lastProblem_;
    // Clipboard transfers from the moment they get a row until their end is handled.
    std::set<Activity::Key> clipboardIDs_;
    // Outgoing file transfers handed out completely, oldest first: their id and finished row.
    std::vector<std::pair<std::uint32_t, QUuid>> recentlySent_;

    TessaloyBase::BlockingQueue receiving_{"dev.tessaloy.transfers.receive"};
    TessaloyBase::BlockingQueue hashing_{"dev.tessaloy.transfers.hash"};
    std::shared_ptr<TessaloyNet::TransferInbox> inbox_;
    std::weak_ptr<TessaloyNet::VideoSender> sender_;
    // Counts attachments, so that reports from an earlier session's outbox are ignored.
    std::uint64_t generation_ = 0;
    // Set while abortIncoming() runs.
    std::optional<TessaloyCore::TransferCancelReason> abortTelling_;
    std::optional<std::uint32_t> abortExcept_;
};

} // namespace Plovander
