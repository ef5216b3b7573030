#include "app/ui/decisions/RelativeDate.h"

#include <array>
#include <cstdint>

namespace Plovander {
namespace {

struct Unit {
    std::int64_t seconds;
    const char* name;
    const char* past;   // the word for one unit ago, or nullptr
    const char* future; // the word for one unit ahead, or nullptr
};

constexpr std::int64_t day = 86'400;
constexpr std::array<Unit, 7> units{{
    {365 * day, "year", "last year", "next year"},
    {30 * day, "month", "last month", "next month"},
    {7 * day, "week", "last week", "next week"},
    {day, "day", "yesterday", "tomorrow"},
    {3600, "hour", nullptr, nullptr},
    {60, "minute", nullptr, nullptr},
    {1, "second", nullptr, nullptr},
}};

} // namespace

QString relativeDate(std::chrono::system_clock::time_point then, std::chrono::system_clock::time_point now) {
    const std::int64_t delta = std::chrono::duration_cast<std::chrono::seconds>(then - now).count();
    const bool ahead = delta > 0;
    const std::int64_t distance = ahead ? delta : -delta;
    for (const Unit& unit : units) {
        const std::int64_t count = distance / unit.seconds;
        if (count == 0) continue;
        const char* word = ahead ? unit.future : unit.past;
        if (count == 1 && word) return QString::fromLatin1(word);
        const QString amount =
            QStringLiteral("%1 %2%3").arg(count).arg(QLatin1String(unit.name), count == 1 ? QString() : "s");
        return ahead ? QStringLiteral("in ") + amount : amount + QStringLiteral(" ago");
    }
    return QStringLiteral("now");
}

} // namespace Plovander
