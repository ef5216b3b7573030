#pragma once

#include <exception>
#include <string>

namespace Plovander {

// The one error of the update's download and staging steps; the install flow turns it into the
// status and sentence the user sees.
class UpdateFailure : public std::exception {
public:
    enum class Kind { signature, download, tooLarge, hashMismatch, mount, noApp, notNewer, withdrawn };

    explicit UpdateFailure(Kind kind) : kind_(kind), caseName_(nameOf(kind)) {}
    // The signature check's refusal, with the refusal's own case name as the detail.
    static UpdateFailure signature(const std::string& detail);

    Kind kind() const noexcept { return kind_; }
    // For trace lines: the case name, or "signature: " and the detail.
    const char* caseName() const noexcept { return caseName_.c_str(); }
    const char* what() const noexcept override { return caseName(); }
    // The sentence for the user; empty for `withdrawn`, which is reported as not allowed.
    std::string description() const;

private:
    UpdateFailure(Kind kind, std::string caseName) : kind_(kind), caseName_(std::move(caseName)) {}
    static const char* nameOf(Kind kind) noexcept;

    Kind kind_;
    std::string caseName_;
};

} // namespace Plovander
