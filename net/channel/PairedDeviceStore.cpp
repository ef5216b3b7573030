#include "net/channel/PairedDeviceStore.h"

#include "core/ByteReader.h"
#include "core/Encoding.h"
#include "core/UnicodeText.h"
#include "net/channel/P256PublicKey.h"
#include "net/channel/PairingLimits.h"
#include "net/channel/SelfSignedCertificate.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

namespace TessaloyNet {
namespace {

using Json = nlohmann::ordered_json;
using TessaloyCore::Bytes;
using TessaloyCore::ByteView;
using Date = PairedDeviceStore::Date;
using Error = PairedDeviceStore::Error;

// Dates within this many seconds of 1970 convert to the clock's nanoseconds without overflow.
constexpr double dateLimitSeconds = 9.0e9;

[[noreturn]] void corrupt() { throw Error(PairedDeviceStoreProblem::corruptItem); }

// Whole seconds and their fraction convert separately, so that a date with a short fraction (as a
// date written by this store has after reading) survives the double exactly.
double secondsOf(Date date) {
    const auto whole = std::chrono::floor<std::chrono::seconds>(date.time_since_epoch());
    const auto fraction = std::chrono::duration<double>(date.time_since_epoch() - whole);
    return static_cast<double>(whole.count()) + fraction.count();
}

Date dateOf(const Json& value) {
    if (!value.is_number()) corrupt();
    const double seconds = value.get<double>();
    if (!std::isfinite(seconds) || std::fabs(seconds) > dateLimitSeconds) corrupt();
    const double whole = std::floor(seconds);
    const auto fraction = std::chrono::round<Date::duration>(std::chrono::duration<double>(seconds - whole));
    return Date(std::chrono::seconds(static_cast<std::int64_t>(whole)) + fraction);
}

PairedDevice deviceOf(const Json& entry) {
    if (!entry.is_object()) corrupt();
    const auto key = entry.find("publicKey");
    const auto name = entry.find("name");
    const auto pairedAt = entry.find("pairedAt");
    const auto lastSeenAt = entry.find("lastSeenAt");
    if (key == entry.end() || !key->is_string() || name == entry.end() || !name->is_string() ||
        pairedAt == entry.end()) {
        corrupt();
    }
    auto publicKey = TessaloyCore::decodeBase64(key->get_ref<const std::string&>());
    if (!publicKey || publicKey->size() != P256PublicKey::x963Bytes) corrupt();

    PairedDevice device{std::move(*publicKey), name->get<std::string>(), dateOf(*pairedAt), std::nullopt};
    if (lastSeenAt != entry.end() && !lastSeenAt->is_null()) device.lastSeenAt = dateOf(*lastSeenAt);
    return device;
}

Json jsonOf(const PairedDevice& device) {
    return Json{{"publicKey", TessaloyCore::base64(device.publicKey)},
                {"name", device.name},
                {"pairedAt", secondsOf(device.pairedAt)},
                {"lastSeenAt", device.lastSeenAt ? Json(secondsOf(*device.lastSeenAt)) : Json(nullptr)}};
}

// The stored device with this key, compared in constant time.
template <typename Devices>
auto findDevice(Devices& devices, ByteView publicKey) {
    return std::find_if(devices.begin(), devices.end(), [&](const PairedDevice& device) {
        return SelfSignedCertificate::matches(device.publicKey, publicKey);
    });
}

std::string shortName(std::string_view name) {
    return std::string(TessaloyCore::leadingCharacters(name, PairedDeviceStore::maximumNameCharacters,
                                                       PairedDeviceStore::maximumNameBytes));
}

} // namespace

const char* nameOf(PairedDeviceStoreProblem problem) noexcept {
    switch (problem) {
        case PairedDeviceStoreProblem::corruptItem:
            return "corruptItem";
        case PairedDeviceStoreProblem::invalidKey:
            return "invalidKey";
        case PairedDeviceStoreProblem::invalidName:
            return "invalidName";
        case PairedDeviceStoreProblem::itemTooLarge:
            return "itemTooLarge";
    }
    return "unknown";
}

const char* descriptionOf(PairedDeviceStoreProblem problem) noexcept {
    switch (problem) {
        case PairedDeviceStoreProblem::corruptItem:
            return "The list of paired devices is damaged.";
        case PairedDeviceStoreProblem::invalidKey:
            return "The device's key is not valid.";
        case PairedDeviceStoreProblem::invalidName:
            return "The device's name is not valid.";
        case PairedDeviceStoreProblem::itemTooLarge:
            return "The list of paired devices would be too large.";
    }
    return "Something went wrong.";
}

PairedDeviceStore::PairedDeviceStore(TessaloyBase::Keychain& keychain, TessaloyBase::DiskQueue disk)
    : keychain_(keychain), item_(disk.file("the paired devices")) {}

const std::vector<PairedDevice>& PairedDeviceStore::devices() const {
    if (devices_) return *devices_;
    const auto stored = keychain_.read(keychainService, keychainAccount);
    std::vector<PairedDevice> devices;
    if (stored) {
        if (stored->size() > maximumItemBytes) corrupt();
        const Json list = Json::parse(stored->begin(), stored->end(), nullptr, false);
        if (list.is_discarded() || !list.is_array()) corrupt();
        devices.reserve(list.size());
        for (const Json& entry : list) devices.push_back(deviceOf(entry));
    }
    return devices_.emplace(std::move(devices));
}

void PairedDeviceStore::save(std::vector<PairedDevice> devices) {
    Json list = Json::array();
    for (const PairedDevice& device : devices) list.push_back(jsonOf(device));
    std::string text;
    try {
        text = list.dump();
    } catch (const Json::exception&) {
        throw Error(PairedDeviceStoreProblem::invalidName);
    }
    if (text.size() > maximumItemBytes) throw Error(PairedDeviceStoreProblem::itemTooLarge);
    devices_ = std::move(devices);
    item_.save([&keychain = keychain_, item = Bytes(text.begin(), text.end())] {
        keychain.write(keychainService, keychainAccount, item);
    });
}

bool PairedDeviceStore::add(const PairedDevice& device) {
    if (!P256PublicKey::isValidX963(device.publicKey)) throw Error(PairedDeviceStoreProblem::invalidKey);
    if (!TessaloyCore::isValidUtf8(device.name)) throw Error(PairedDeviceStoreProblem::invalidName);
    PairedDevice stored = device;
    stored.name = shortName(device.name);
    std::lock_guard guard(lock_);
    std::vector<PairedDevice> devices = this->devices();
    if (const auto known = findDevice(devices, stored.publicKey); known != devices.end()) {
        *known = std::move(stored);
    } else if (devices.size() >= PairingLimits::devicesPerMac) {
        return false;
    } else {
        devices.push_back(std::move(stored));
    }
    save(std::move(devices));
    return true;
}

bool PairedDeviceStore::remove(ByteView publicKey) {
    std::lock_guard guard(lock_);
    std::vector<PairedDevice> devices = this->devices();
    const auto end = std::remove_if(devices.begin(), devices.end(), [&](const PairedDevice& device) {
        return SelfSignedCertificate::matches(device.publicKey, publicKey);
    });
    if (end == devices.end()) return false;
    devices.erase(end, devices.end());
    save(std::move(devices));
    return true;
}

void PairedDeviceStore::rename(ByteView publicKey, std::string_view name) {
    if (!TessaloyCore::isValidUtf8(name)) throw Error(PairedDeviceStoreProblem::invalidName);
    const std::string cut = shortName(TessaloyCore::trimmingWhitespace(name));
    if (cut.empty()) return;
    std::lock_guard guard(lock_);
    std::vector<PairedDevice> devices = this->devices();
    const auto known = findDevice(devices, publicKey);
    if (known == devices.end()) return;
    known->name = cut;
    save(std::move(devices));
}

void PairedDeviceStore::markSeen(ByteView publicKey, Date at) {
    std::lock_guard guard(lock_);
    std::vector<PairedDevice> devices = this->devices();
    const auto known = findDevice(devices, publicKey);
    if (known == devices.end()) return;
    known->lastSeenAt = at;
    save(std::move(devices));
}

std::vector<PairedDevice> PairedDeviceStore::all() const {
    std::lock_guard guard(lock_);
    return devices();
}

std::optional<PairedDevice> PairedDeviceStore::device(ByteView publicKey) const {
    std::lock_guard guard(lock_);
    const std::vector<PairedDevice>& devices = this->devices();
    const auto known = findDevice(devices, publicKey);
    if (known == devices.end()) return std::nullopt;
    return *known;
}

bool PairedDeviceStore::isTrusted(ByteView publicKey) const noexcept {
    try {
        return device(publicKey).has_value();
    } catch (...) {
        return false;
    }
}

} // namespace TessaloyNet
