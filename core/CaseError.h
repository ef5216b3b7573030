#pragma once

#include <exception>
#include <string>

namespace TessaloyCore {

// An error that can say what went wrong in a sentence for the user, besides what it says in trace
// lines (`what()`).
class DescribedError : public std::exception {
public:
    virtual std::string description() const = 0;
};

// The sentence for the user of any error: the description of a described one, else its `what()`.
std::string describe(const std::exception& error);

// The exception that carries one case of an error enumeration. Each enumeration provides
// `const char* nameOf(Case)` next to it (found by argument-dependent lookup), which gives the
// case name used in trace lines, and `const char* descriptionOf(Case)`, the sentence for the user.
template <typename CaseEnum>
class CaseError : public DescribedError {
public:
    using Case = CaseEnum;

    explicit CaseError(Case value) noexcept : value_(value) {}

    Case value() const noexcept { return value_; }
    const char* caseName() const noexcept { return nameOf(value_); }
    const char* what() const noexcept override { return nameOf(value_); }
    std::string description() const override { return descriptionOf(value_); }

    friend bool operator==(const CaseError& error, Case value) noexcept { return error.value_ == value; }

private:
    Case value_;
};

} // namespace TessaloyCore
