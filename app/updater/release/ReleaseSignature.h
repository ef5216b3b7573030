#pragma once

#include "app/updater/release/ReleaseKeys.h"

#include <filesystem>
#include <optional>
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

    // This machine's architecture, as `uname -m` names it.
    static std::string machineArchitecture();

    // The contents list of `tree` for `architecture`. Throws std::filesystem::filesystem_error, or
    // std::runtime_error for an entry no line can describe: a name holding a newline, or a link
    // whose target holds a space or a newline.
    static std::string contentsList(const std::filesystem::path& tree, std::string_view architecture);

    // Writes the contents list and both signatures into the tree.
    static void sign(const std::filesystem::path& tree, const SigningKey& publisher, const SigningKey& notary,
                     std::string_view architecture = machineArchitecture());

    // Nullopt when the tree is exactly what its keys signed for this architecture, with every link
    // leading, on disk, to somewhere inside it, and `_Signature/` holding only its three regular
    // files; otherwise the detail of the refusal: "status -N", "requirement" when a key is
    // missing, or the word of the error that kept the tree from being opened.
    static std::optional<std::string> verify(const std::filesystem::path& tree, const TrustedKeys& keys,
                                             std::string_view architecture = machineArchitecture());
};

} // namespace Plovander
