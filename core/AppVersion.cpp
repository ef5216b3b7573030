#include "core/AppVersion.h"

#include <string_view>

#ifndef PLOVANDER_VERSION
#define PLOVANDER_VERSION ""
#endif
#ifndef PLOVANDER_BUILD_NUMBER
#define PLOVANDER_BUILD_NUMBER ""
#endif

namespace TessaloyCore {

namespace {

std::string orQuestionMark(std::string_view text) { return text.empty() ? "?" : std::string(text); }

} // namespace

std::string AppVersion::marketing() { return orQuestionMark(PLOVANDER_VERSION); }

std::string AppVersion::build() { return orQuestionMark(PLOVANDER_BUILD_NUMBER); }

std::string AppVersion::display() { return marketing() + " (" + build() + ")"; }

} // namespace TessaloyCore
