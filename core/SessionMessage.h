#pragma once

#include "core/Bytes.h"
#include "core/CodecError.h"
#include "core/HostInfo.h"
#include "core/QualityMode.h"
#include "core/UpdateStatus.h"
#include "core/VideoCodec.h"
#include "core/WirePacket.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace TessaloyCore {

class ByteReader;
class FieldWriter;

// One message of the control channel, carried by a `session` packet: a tag byte (the case's index
// + 1; tag 24 is reserved) and the case's fields. Cases 1 to 11 travel from the device to the Mac,
// the others from the Mac to the device.
struct SessionMessage {
    using Error = CodecError<SessionMessage>;

    // pasteOnMac and clipboard texts, in UTF-8 bytes.
    static constexpr std::size_t maximumTextBytes = 65'536;
    static constexpr std::size_t maximumVideoCodecs = 8;
    static constexpr std::size_t maximumDisplays = 16;
    static constexpr std::size_t maximumRemoteAddresses = 4;
    // Each remote address, in Unicode scalar values.
    static constexpr std::size_t maximumAddressCharacters = 64;
    static constexpr std::size_t maximumWakeTargets = 4;
    // The relay endpoint's text, in UTF-8 bytes.
    static constexpr std::size_t maximumRelayBytes = 1'024;

    // Why the Mac refuses the device's clipboard request.
    enum class ClipboardRefusal : std::uint8_t { notAllowed = 1, empty = 2, tooLarge = 3, folder = 4 };

    struct PrivacyState {
        bool blanksScreen = false;
        bool locksLocalInput = false;

        static PrivacyState read(ByteReader& reader);
        void write(FieldWriter& writer) const;

        friend bool operator==(const PrivacyState&, const PrivacyState&) = default;
    };

    struct DisplayInfo {
        // The name's limit, in Unicode scalar values.
        static constexpr std::size_t maximumNameCharacters = 64;

        std::uint32_t id = 0;
        // Points; 0...UINT32_MAX on the wire.
        std::int64_t width = 0;
        std::int64_t height = 0;
        bool isMain = false;
        std::string name;

        static DisplayInfo read(ByteReader& reader);
        void write(FieldWriter& writer) const;

        friend bool operator==(const DisplayInfo&, const DisplayInfo&) = default;
    };

    struct PointerImage {
        static constexpr std::size_t maximumPNGBytes = 65'536;

        std::uint32_t id = 0;
        // Points.
        double hotspotX = 0;
        double hotspotY = 0;
        double width = 0;
        double height = 0;
        // Never empty.
        Bytes png;

        static PointerImage read(ByteReader& reader);
        void write(FieldWriter& writer) const;

        friend bool operator==(const PointerImage&, const PointerImage&) = default;
    };

    // An interface the device can wake this Mac through.
    struct WakeTarget {
        static constexpr std::size_t maximumHardwareAddressBytes = 16;
        static constexpr std::size_t maximumIPv4AddressBytes = 15;

        // 6 bytes for a real interface.
        Bytes hardwareAddress;
        // Dotted decimal.
        std::string ipv4Address;

        static WakeTarget read(ByteReader& reader);
        void write(FieldWriter& writer) const;

        friend bool operator==(const WakeTarget&, const WakeTarget&) = default;
    };

    // Device to Mac.
    struct PasteOnMac {
        std::string text;
        friend bool operator==(const PasteOnMac&, const PasteOnMac&) = default;
    };
    struct CopyFromMac {
        friend bool operator==(const CopyFromMac&, const CopyFromMac&) = default;
    };
    struct ListDisplays {
        friend bool operator==(const ListDisplays&, const ListDisplays&) = default;
    };
    struct ShareDisplay {
        std::uint32_t id = 0;
        friend bool operator==(const ShareDisplay&, const ShareDisplay&) = default;
    };
    struct Quality {
        QualityMode mode = QualityMode::full;
        friend bool operator==(const Quality&, const Quality&) = default;
    };
    struct Sound {
        bool on = false;
        friend bool operator==(const Sound&, const Sound&) = default;
    };
    // The codecs the device decodes; repetitions are kept.
    struct VideoCodecs {
        std::vector<VideoCodec> list;
        friend bool operator==(const VideoCodecs&, const VideoCodecs&) = default;
    };
    struct DrawsPointer {
        friend bool operator==(const DrawsPointer&, const DrawsPointer&) = default;
    };
    struct Privacy {
        PrivacyState state;
        friend bool operator==(const Privacy&, const Privacy&) = default;
    };
    struct RequestKeyframe {
        friend bool operator==(const RequestKeyframe&, const RequestKeyframe&) = default;
    };
    struct UpdateMac {
        friend bool operator==(const UpdateMac&, const UpdateMac&) = default;
    };

    // Mac to device; the pointerImage, hostInfo and updateStatus cases are their payload types.
    struct Clipboard {
        std::string text;
        friend bool operator==(const Clipboard&, const Clipboard&) = default;
    };
    struct ClipboardRefused {
        ClipboardRefusal reason = ClipboardRefusal::notAllowed;
        friend bool operator==(const ClipboardRefused&, const ClipboardRefused&) = default;
    };
    struct Pasted {
        friend bool operator==(const Pasted&, const Pasted&) = default;
    };
    struct Displays {
        std::vector<DisplayInfo> displays;
        // The display being shared.
        std::uint32_t shared = 0;
        friend bool operator==(const Displays&, const Displays&) = default;
    };
    struct PointerShape {
        std::uint32_t id = 0;
        friend bool operator==(const PointerShape&, const PointerShape&) = default;
    };
    // The privacy now in force on the Mac.
    struct PrivacyApplied {
        PrivacyState state;
        friend bool operator==(const PrivacyApplied&, const PrivacyApplied&) = default;
    };
    struct RemoteAddresses {
        std::vector<std::string> list;
        friend bool operator==(const RemoteAddresses&, const RemoteAddresses&) = default;
    };
    struct WakeInfo {
        std::vector<WakeTarget> list;
        friend bool operator==(const WakeInfo&, const WakeInfo&) = default;
    };
    // The relay endpoint's text form.
    struct Relay {
        std::string text;
        friend bool operator==(const Relay&, const Relay&) = default;
    };

    // In tag order, from 1.
    using Value =
        std::variant<PasteOnMac, CopyFromMac, ListDisplays, ShareDisplay, Quality, Sound, VideoCodecs, DrawsPointer,
                     Privacy, RequestKeyframe, UpdateMac, Clipboard, ClipboardRefused, Pasted, Displays, PointerImage,
                     PointerShape, PrivacyApplied, RemoteAddresses, WakeInfo, Relay, HostInfo, UpdateStatus>;

    Value value;

    template <typename Case>
    bool is() const noexcept {
        return std::holds_alternative<Case>(value);
    }

    // Throws Error: wrongKind for another packet kind, then, field by field in wire order,
    // truncated, unknownTag, invalidValue (invalid UTF-8, a bool other than 0 or 1, an unknown
    // enumeration byte or codec, a non-finite double, an empty PNG), tooLong (a list, text or
    // byte field over its limit); trailingBytes last.
    static SessionMessage decode(const WirePacket& packet);
    // The payload. Throws Error invalidValue or tooLong for a field the decoder would refuse;
    // callers drop such a message.
    Bytes encoded() const;
    WirePacket packet() const;

    friend bool operator==(const SessionMessage&, const SessionMessage&) = default;
};

} // namespace TessaloyCore
