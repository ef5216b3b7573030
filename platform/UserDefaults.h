#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

// The user's persisted settings. Every getter tells an absent key (nullopt) from a stored false or 0.
// Launch arguments of the form "-Key value" override a key for this process without being stored.
// Values are kept as text, so a stored "true" reads as a Boolean and "42" as an integer.
class UserDefaults {
public:
    using Overrides = std::map<std::string, std::string, std::less<>>;

    explicit UserDefaults(Overrides overrides = {});
    virtual ~UserDefaults() = default;

    // "-Key value" pairs from a command line; other arguments are skipped.
    static Overrides parseLaunchArguments(const std::vector<std::string>& arguments);

    std::optional<bool> boolean(std::string_view key) const;
    std::optional<std::int64_t> integer(std::string_view key) const;
    std::optional<std::string> text(std::string_view key) const;

    void setBoolean(std::string_view key, bool value);
    void setInteger(std::string_view key, std::int64_t value);
    void setText(std::string_view key, std::string_view value);
    void remove(std::string_view key);

    // Why the stored settings could not be read, when they could not: the defaults are in use, what
    // is set lasts for this run only, and the store is left as it is.
    virtual std::optional<std::string> readProblem() const { return std::nullopt; }

protected:
    virtual std::optional<std::string> load(std::string_view key) const = 0;
    // Stores the text, or removes the key for nullopt.
    virtual void store(std::string_view key, std::optional<std::string> value) = 0;

private:
    std::optional<std::string> raw(std::string_view key) const;

    Overrides overrides_;
};

} // namespace Platform
