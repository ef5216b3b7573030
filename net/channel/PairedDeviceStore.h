#pragma once

#include "base/DiskQueue.h"
#include "base/Keychain.h"
#include "core/Bytes.h"
#include "core/CaseError.h"
#include "net/channel/PairedDevice.h"

#include <cstddef>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace TessaloyNet {

// corruptItem: the stored item is not the JSON list this store writes. invalidKey, invalidName: a
// device that the store refuses to write, because it could not be read back. itemTooLarge: a change
// that would make the item larger than the store reads back (names of an earlier version could).
enum class PairedDeviceStoreProblem { corruptItem, invalidKey, invalidName, itemTooLarge };
const char* nameOf(PairedDeviceStoreProblem problem) noexcept;
// The sentence for the user.
const char* descriptionOf(PairedDeviceStoreProblem problem) noexcept;

// The trust store: the phones this Mac admits without a code, kept as one Keychain item holding a
// JSON array of {"publicKey": base64, "name", "pairedAt": seconds since 1970, "lastSeenAt": seconds
// or null}. The item is read once and then kept in memory under the store's lock, so concurrent
// changes from the main actor and the listener's queues never lose one another; each change is saved
// whole on the disk queue, in order, and nobody waits for the disk. A save that fails is reported by
// the queue, and the list in memory stays as it was changed. A stored item that cannot be read is
// reported (KeychainError, or Error corruptItem), read again at the next call and never written
// over: it may be the only record of the user's paired phones.
class PairedDeviceStore {
public:
    using Date = PairedDevice::Date;
    using Error = TessaloyCore::CaseError<PairedDeviceStoreProblem>;

    static constexpr std::string_view keychainService = "dev.tessaloy.paired";
    static constexpr std::string_view keychainAccount = "paired-mac-v1";
    // Names are cut to this many characters, and to as many of them as fit whole in this many bytes:
    // a character may carry any number of combining marks. 256 bytes hold 64 characters of one code
    // point each, whatever the script, and three such names keep the item far below its limit.
    static constexpr std::size_t maximumNameCharacters = 64;
    static constexpr std::size_t maximumNameBytes = 256;
    // A list of a few devices is a few kilobytes: a larger item is refused as corrupt unparsed, so
    // that whatever grew it costs no time of its readers. Nor is a larger one ever written.
    static constexpr std::size_t maximumItemBytes = 1'048'576;

    // `keychain` must outlive the store and the saves it hands to `disk`.
    explicit PairedDeviceStore(TessaloyBase::Keychain& keychain,
                               TessaloyBase::DiskQueue disk = TessaloyBase::DiskQueue::inPlace());

    // Stores the device, its name cut as rename() cuts it. A device whose key is already stored is
    // replaced in place; a new one is refused, returning false and changing nothing, once
    // PairingLimits::devicesPerMac devices are stored. Throws Error for a key that is not a P-256
    // point or a name that is not UTF-8.
    bool add(const PairedDevice& device);
    // Forgets the device with this key; false when there was none.
    bool remove(TessaloyCore::ByteView publicKey);
    // Sets the name to `name` without surrounding white space, cut to its first 64 characters
    // (grapheme clusters) and to maximumNameBytes. Nothing left (not even one character fits), or no
    // such device: no change, no error. Throws Error invalidName for text that is not UTF-8.
    void rename(TessaloyCore::ByteView publicKey, std::string_view name);
    // Records when the device last connected; nothing happens for an unknown key.
    void markSeen(TessaloyCore::ByteView publicKey, Date at);

    // In the stored order.
    std::vector<PairedDevice> all() const;
    std::optional<PairedDevice> device(TessaloyCore::ByteView publicKey) const;
    // False also when the store cannot be read: an unreadable store trusts nobody.
    bool isTrusted(TessaloyCore::ByteView publicKey) const noexcept;

    // Every method above throws the Keychain's KeychainError, and Error corruptItem, for an item
    // that cannot be read; the changes throw Error itemTooLarge for a list they would not write.

private:
    // Both with lock_ held: the list in memory, read first if need be, and the list changed.
    const std::vector<PairedDevice>& devices() const;
    void save(std::vector<PairedDevice> devices);

    TessaloyBase::Keychain& keychain_;
    const TessaloyBase::DiskQueue::File item_;
    mutable std::mutex lock_;
    mutable std::optional<std::vector<PairedDevice>> devices_;
};

} // namespace TessaloyNet
