#pragma once

#include <QString>

#include <chrono>

namespace Plovander {

// How long ago (or how far ahead) `then` lies from `now`, in words: the largest whole unit, with
// a word of its own where English has one ("yesterday", "last week", "tomorrow"), else the
// number with its unit written out ("3 hours ago", "in 2 days").
QString relativeDate(std::chrono::system_clock::time_point then, std::chrono::system_clock::time_point now);

} // namespace Plovander
