#pragma once

#include "app/updater/release/ReleaseKeys.h"

#include <cstddef>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

namespace Plovander {

// The signature of an install tree: `_Signature/CodeResources` lists every entry with its mode,
// size and digest; the publisher signs that list and the notary signs its digest.
struct ReleaseSignature {
    static constexpr std::string_view identifier = "com.tessaloy.plovander.host";
    static constexpr std::string_view team = "K7PLV4DR2T";
    static constexpr std::string_view folder = "_Signature";
    static constexpr std::string_view notaryPrefix = "PLOVANDER-NOTARY-1";
    // Ample for a real tree; a larger contents list is refused unread, as badly signed.
    static constexpr std::size_t maximumContentsBytes = 16 * 1024 * 1024;

    // Why a tree is refused. The numbered cases are the statuses a code-signature check reports.
    class Refusal : public std::exception {
    public:
        enum class Case : int {
            // A pinned key is missing.
            requirement = 1,
            // The tree could not be opened or walked.
            unreadable = 2,
            unsigned_ = -1,
            malformed = -2,
            publisherSignature = -3,
            wrongIdentifier = -4,
            wrongTeam = -5,
            notNotarised = -6,
            contentDiffers = -7,
            unlistedOrMissing = -8,
            wrongArchitecture = -9,
        };
        using enum Case;

        // `systemText`: the system's words for an unreadable tree.
        explicit Refusal(Case value, std::string_view systemText = {});

        Case value() const noexcept { return value_; }
        // For trace lines: "requirement", "status " and the number of a numbered case, or the
        // system's words for an unreadable tree.
        const char* caseName() const noexcept { return caseName_.c_str(); }
        const char* what() const noexcept override { return caseName(); }

    private:
        Case value_;
        std::string caseName_;
    };

    // This machine's architecture, as `uname -m` names it.
    static std::string machineArchitecture();

    // The contents list of `tree` for `architecture`. Throws std::filesystem::filesystem_error, or
    // std::runtime_error for an entry no line can describe: a name holding a newline, or a link
    // whose target holds a space or a newline.
    static std::string contentsList(const std::filesystem::path& tree, std::string_view architecture);

    // Writes the contents list and both signatures into the tree.
    static void sign(const std::filesystem::path& tree, const SigningKey& publisher, const SigningKey& notary,
                     std::string_view architecture = machineArchitecture());

    // Returns when the tree is exactly what its keys signed for this architecture, with every link
    // leading, on disk, to somewhere inside it, and `_Signature/` holding only its three regular
    // files; otherwise throws its Refusal.
    static void verify(const std::filesystem::path& tree, const TrustedKeys& keys,
                       std::string_view architecture = machineArchitecture());
};

} // namespace Plovander
