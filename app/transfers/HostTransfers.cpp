#include "app/transfers/HostTransfers.h"

#include "app/trace/TraceLog.h"
#include "base/MainActor.h"
#include "net/send/VideoSender.h"
#include "net/transfer/TransferInbox.h"
#include "platform/TransferFiles.h"

#include <QPointer>

#include <algorithm>
#include <exception>
#include <iterator>
#include <type_traits>

namespace Plovander {

using TessaloyCore::TransferCancelReason;
using TessaloyCore::TransferMessage;
using TessaloyCore::TransferOffer;

namespace {

HostTransfers::Finished::Outcome outcomeOf(std::optional<TransferCancelReason> reason) {
    using Outcome = HostTransfers::Finished::Outcome;
    if (!reason) return Outcome::done();
    switch (*reason) {
        case TransferCancelReason::cancelled:
            return Outcome::cancelled();
        case TransferCancelReason::notAllowed:
            return Outcome::failed("Allow remote control is off");
        case TransferCancelReason::tooLarge:
            return Outcome::failed("Too large for your device");
        case TransferCancelReason::failed:
            break;
    }
    return Outcome::failed("Couldn't be sent");
}

// Calls `member` of `object` while the object lives.
template <typename Member>
auto whileAlive(HostTransfers* object, Member member) {
    return [self = QPointer(object), member](auto&&... arguments) {
        if (self) (self.data()->*member)(std::forward<decltype(arguments)>(arguments)...);
    };
}

} // namespace

HostTransfers::HostTransfers(TessaloyBase::MainActor& actor, std::shared_ptr<Platform::Pasteboard> pasteboard,
                             std::shared_ptr<Platform::TransferFiles> files, QObject* parent)
    : QObject(parent), actor_(actor), pasteboard_(std::move(pasteboard)), files_(std::move(files)) {
    // Ahead of every inbox's files: what is left there is from a run that was cut off.
    receiving_.async([files = files_] {
        try {
            files->prepareWorkFolder();
            files->emptyWorkFolder();
        } catch (const std::exception& error) {
            // Each offer tries again, and is refused while the folder is not private.
            TraceLog::message([&] { return std::string("the work folder is not private: ") + error.what(); });
        }
    });
}

HostTransfers::~HostTransfers() {
    if (inbox_) {
        // Partial files are deleted; nothing is reported to an object that is going away.
        inbox_->onFailed = nullptr;
        inbox_->onDiskFailure = nullptr;
        inbox_->reply = nullptr;
        inbox_->cancelAll();
        inbox_.reset();
    }
    // At shutdown: the worker's last outcomes are posted to the main actor before this object is gone.
    waitForReceiving();
}

void HostTransfers::waitForReceiving() {
    // The writer hands chunks on to the hasher, never the other way.
    receiving_.drain();
    hashing_.drain();
}

void HostTransfers::setFinished(std::vector<Finished> finished) {
    actor_.assertCurrent();
    if (finished == finished_) return;
    finished_ = std::move(finished);
    Q_EMIT finishedChanged();
}

void HostTransfers::setLastProblem(std::optional<std::string> problem) {
    actor_.assertCurrent();
    if (problem == lastProblem_) return;
    lastProblem_ = std::move(problem);
    Q_EMIT lastProblemChanged();
}

void HostTransfers::setLastReceived(std::optional<std::filesystem::path> file) {
    if (file == lastReceived_) return;
    lastReceived_ = std::move(file);
    Q_EMIT lastReceivedChanged();
}

void HostTransfers::setActive(std::vector<Activity> active) {
    if (active == active_) return;
    active_ = std::move(active);
    Q_EMIT activeChanged();
}

void HostTransfers::attach(const std::shared_ptr<TessaloyNet::VideoSender>& sender) {
    actor_.assertCurrent();
    detach();
    sender_ = sender;

    auto inbox = std::make_shared<TessaloyNet::TransferInbox>(files_->workFolder());
    inbox->prepareDirectory = [files = files_](const std::filesystem::path&) { files->prepareWorkFolder(); };
    // Asked only from handle(), while this object is in the call.
    inbox->decide = [this](const TransferOffer& offer) { return decide(offer); };
    // The rest also report the disk's outcomes, which come back by posts to the main actor.
    inbox->reply = whileAlive(this, &HostTransfers::reply);
    inbox->onStarted = whileAlive(this, &HostTransfers::incomingStarted);
    inbox->onProgress = whileAlive(this, &HostTransfers::incomingProgress);
    // A file may still complete, or fail, once this session has ended.
    inbox->onComplete = [self = QPointer(this), generation = generation_](const TransferOffer& offer,
                                                                          const std::filesystem::path& work) {
        if (self) self->saveReceived(offer, work, self->generation_ == generation);
    };
    inbox->onFailed = [self = QPointer(this), generation = generation_](const TransferOffer& offer,
                                                                        TransferCancelReason reason) {
        if (self && self->generation_ == generation) self->incomingFailed(offer, reason);
    };
    inbox->onDiskFailure = [](const TransferOffer&, const std::string& problem) {
        TraceLog::message([&] { return "could not receive a file: " + problem; });
    };
    // One clock for the whole application, so that idle transfers expire in the actor's time.
    inbox->now = [&actor = actor_] { return actor.now(); };
    // Work still queued when this object goes holds the queues themselves.
    inbox->runOnWorker = [queue = receiving_](std::function<void()> work) { queue.async(std::move(work)); };
    inbox->runOnHasher = [queue = hashing_](std::function<void()> work) { queue.async(std::move(work)); };
    inbox->runOnOwner = [&actor = actor_](std::function<void()> work) { actor.post(std::move(work)); };
    // The device's chunks come on the media channel: a disk that falls behind holds its reads back.
    if (sender) {
        inbox->onBacklog = [channel = sender->channel()](bool behind) {
            if (const auto media = channel.lock()) media->pauseReading(behind);
        };
    }
    inbox_ = std::move(inbox);

    if (!sender) return;
    // Called on the channel's queue (or here): each report only posts its values to the main actor,
    // where it counts while this object lives and is still attached to this session.
    const QPointer<HostTransfers> self(this);
    TessaloyBase::MainActor* actor = &actor_;
    const std::uint64_t generation = generation_;
    TessaloyNet::TransferOutbox& outbox = sender->transfers();
    outbox.onProgress = [self, actor, generation](std::uint32_t id, std::uint64_t sent, std::uint64_t total) {
        actor->post([self, generation, id, sent, total] {
            if (self && self->generation_ == generation) self->outgoingProgress(id, sent, total);
        });
    };
    outbox.onFinished = [self, actor, generation](std::uint32_t id, std::optional<TransferCancelReason> reason) {
        actor->post([self, generation, id, reason] {
            if (self && self->generation_ == generation) self->outgoingFinished(id, reason);
        });
    };
}

void HostTransfers::detach() {
    actor_.assertCurrent();
    ++generation_;
    // Files still being sent when the session ends did not arrive: they stay listed as failed.
    // Clipboard images leave no row, and incoming transfers none, as any other failed receipt.
    std::vector<Activity> cutOff;
    std::copy_if(active_.begin(), active_.end(), std::back_inserter(cutOff),
                 [this](const Activity& row) { return !row.isIncoming && !clipboardIDs_.contains(row.key()); });
    // Aborted transfers report through incomingFailed(), which removes their rows. Their queues
    // delete the files, without anyone waiting for the disk. Those whose finish has arrived are still
    // saved, and nothing more of the session reaches a device.
    abortIncoming(std::nullopt);
    if (inbox_) inbox_->reply = nullptr;
    inbox_.reset();
    sender_.reset();
    clipboardIDs_.clear();
    recentlySent_.clear();
    setActive({});
    for (const Activity& row : cutOff) {
        addFinished(Finished{QUuid::createUuid(), row.name, false, Finished::Outcome::failed("Couldn't be sent"),
                             std::nullopt, actor_.now()});
    }
}

void HostTransfers::handle(TransferMessage message) {
    actor_.assertCurrent();
    // Held for the call, so that a callback that detaches cannot pull the inbox from under it.
    const std::shared_ptr<TessaloyNet::TransferInbox> inbox = inbox_;
    const auto* cancel = std::get_if<TransferMessage::Cancel>(&message.value);

    if (isAllowed()) {
        if (cancel) {
            if (const auto sender = sender_.lock(); sender && sender->transfers().contains(cancel->id)) {
                // Its finished row comes through outgoingFinished().
                sender->transfers().refused(cancel->id, cancel->reason);
                return refusalNotice(cancel->reason);
            }
            const auto sent = std::find_if(recentlySent_.begin(), recentlySent_.end(),
                                           [&](const auto& entry) { return entry.first == cancel->id; });
            if (sent != recentlySent_.end()) {
                const QUuid rowID = sent->second;
                recentlySent_.erase(sent);
                const auto row = std::find_if(finished_.begin(), finished_.end(),
                                              [&](const Finished& finished) { return finished.id == rowID; });
                if (row != finished_.end()) {
                    // The device refused a transfer that was already handed out completely.
                    std::vector<Finished> finished = finished_;
                    const auto index = static_cast<std::size_t>(row - finished_.begin());
                    finished[index] =
                        Finished{QUuid::createUuid(), row->name,   false, Finished::Outcome::failed("Not received"),
                                 std::nullopt,        actor_.now()};
                    setFinished(std::move(finished));
                    return refusalNotice(cancel->reason);
                }
            }
        }
        if (inbox) inbox->handle(std::move(message));
        return;
    }

    if (std::holds_alternative<TransferMessage::Offer>(message.value)) {
        // decide() refuses it.
        if (inbox) inbox->handle(std::move(message));
        return;
    }
    // The device learns that its transfers went nowhere, except the one it is cancelling itself.
    if (inbox) abortIncoming(TransferCancelReason::notAllowed, cancel ? std::optional(cancel->id) : std::nullopt);
    std::vector<Activity> active = active_;
    std::erase_if(active, [](const Activity& row) { return row.isIncoming; });
    setActive(std::move(active));
}

void HostTransfers::cancelAll() {
    actor_.assertCurrent();
    if (const auto sender = sender_.lock()) {
        std::vector<std::uint32_t> outgoing;
        for (const Activity& row : active_) {
            if (!row.isIncoming) outgoing.push_back(row.id);
        }
        for (const std::uint32_t id : outgoing) sender->transfers().cancel(id, TransferCancelReason::notAllowed);
    }
    abortIncoming(TransferCancelReason::notAllowed);
    setActive({});
}

void HostTransfers::cancel(std::uint32_t id) {
    actor_.assertCurrent();
    if (const auto sender = sender_.lock(); sender && sender->transfers().contains(id)) {
        return sender->transfers().cancel(id, TransferCancelReason::cancelled);
    }
    if (const auto inbox = inbox_) inbox->cancel(id);
}

void HostTransfers::cancel(Activity::Key key) {
    actor_.assertCurrent();
    if (!key.isIncoming) {
        if (const auto sender = sender_.lock(); sender && sender->transfers().contains(key.id)) {
            sender->transfers().cancel(key.id, TransferCancelReason::cancelled);
        }
        return;
    }
    if (const auto inbox = inbox_) inbox->cancel(key.id);
}

void HostTransfers::reply(TransferMessage message) {
    if (const auto sender = sender_.lock()) sender->transfers().send(std::move(message));
}

void HostTransfers::refusalNotice(TransferCancelReason reason) {
    if (reason == TransferCancelReason::tooLarge) setLastProblem("That was too large for your device to accept.");
}

void HostTransfers::upsert(Activity row) {
    std::vector<Activity> active = active_;
    const auto found = std::find_if(active.begin(), active.end(),
                                    [&](const Activity& existing) { return existing.key() == row.key(); });
    if (found != active.end()) {
        *found = std::move(row);
    } else {
        active.push_back(std::move(row));
    }
    setActive(std::move(active));
}

void HostTransfers::removeActivity(Activity::Key key) {
    std::vector<Activity> active = active_;
    std::erase_if(active, [&](const Activity& row) { return row.key() == key; });
    clipboardIDs_.erase(key);
    setActive(std::move(active));
}

void HostTransfers::addFinished(Finished row) {
    std::vector<Finished> finished;
    finished.reserve(std::min(finished_.size() + 1, finishedLimit));
    finished.push_back(std::move(row));
    for (std::size_t i = 0; i < finished_.size() && finished.size() < finishedLimit; ++i) {
        finished.push_back(finished_[i]);
    }
    setFinished(std::move(finished));
}

double HostTransfers::fraction(std::uint64_t count, std::uint64_t total) {
    if (total == 0) return 1.0;
    return std::clamp(static_cast<double>(count) / static_cast<double>(total), 0.0, 1.0);
}

void HostTransfers::outgoingProgress(std::uint32_t id, std::uint64_t sent, std::uint64_t total) {
    const Activity::Key key{false, id};
    const auto row =
        std::find_if(active_.begin(), active_.end(), [&](const Activity& existing) { return existing.key() == key; });
    if (row == active_.end()) return;
    upsert(Activity{id, row->name, false, fraction(sent, total)});
}

void HostTransfers::outgoingFinished(std::uint32_t id, std::optional<TransferCancelReason> reason) {
    const Activity::Key key{false, id};
    const auto row =
        std::find_if(active_.begin(), active_.end(), [&](const Activity& existing) { return existing.key() == key; });
    const std::optional<std::string> name = row != active_.end() ? std::optional(row->name) : std::nullopt;
    const bool wasClipboard = clipboardIDs_.contains(key);
    removeActivity(key);
    // Clipboard transfers leave no finished row.
    if (!name || wasClipboard) return;

    Finished finished{QUuid::createUuid(), *name, false, outcomeOf(reason), std::nullopt, actor_.now()};
    const QUuid rowID = finished.id;
    addFinished(std::move(finished));
    if (!reason) rememberSent(id, rowID);
}

void HostTransfers::rememberSent(std::uint32_t id, const QUuid& row) {
    std::erase_if(recentlySent_, [&](const auto& entry) { return entry.first == id; });
    recentlySent_.emplace_back(id, row);
    // The oldest goes, never the entry just made.
    if (recentlySent_.size() > recentlySentLimit) recentlySent_.erase(recentlySent_.begin());
}

} // namespace Plovander
