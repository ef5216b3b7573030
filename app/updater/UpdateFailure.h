#pragma once

#include <exception>
#include <string>

namespace Plovander {

// The one error of the update's download and staging steps; the install flow turns it into the
// status and sentence the user sees.
class UpdateFailure : public std::exception {
public:
    enum class Kind { signature, download, tooLarge, hashMismatch, mount, noApp, notNewer, withdrawn };

    explicit UpdateFailure(Kind kind) : kind_(kind), description_(nameOf(kind)) {}
    // The signature check's refusal: "status -N", "requirement" or the word of an open error.
    static UpdateFailure signature(const std::string& detail);

    Kind kind() const noexcept { return kind_; }
    // The case name, or "signature: " and the detail.
    const char* what() const noexcept override { return description_.c_str(); }
    // The sentence for the user; empty for `withdrawn`, which is reported as not allowed.
    std::string sentence() const;

    static const char* nameOf(Kind kind) noexcept;

private:
    UpdateFailure(Kind kind, std::string description) : kind_(kind), description_(std::move(description)) {}

    Kind kind_;
    std::string description_;
};

} // namespace Plovander
