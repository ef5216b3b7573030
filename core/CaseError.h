#pragma once

#include <exception>

namespace TessaloyCore {

// The exception that carries one case of an error enumeration. Each enumeration provides
// `const char* nameOf(Case)` next to it (found by argument-dependent lookup), which gives the
// case name used in trace lines.
template <typename CaseEnum>
class CaseError : public std::exception {
public:
    using Case = CaseEnum;

    explicit CaseError(Case value) noexcept : value_(value) {}

    Case value() const noexcept { return value_; }
    const char* caseName() const noexcept { return nameOf(value_); }
    const char* what() const noexcept override { return nameOf(value_); }

    friend bool operator==(const CaseError& error, Case value) noexcept { return error.value_ == value; }

private:
    Case value_;
};

} // namespace TessaloyCore
