#pragma once

#include <functional>
#include <utility>

namespace Plovander {

// One published property of an observable model: its value and the change notification that views
// re-sync from. Setting an equal value notifies nobody. Main actor only, like the model that owns it.
//
//   Published<bool> isSharing{[this] { Q_EMIT isSharingChanged(); }};
template <typename T>
class Published {
public:
    explicit Published(std::function<void()> notify, T initial = T{})
        : value_(std::move(initial)), notify_(std::move(notify)) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& get() const { return value_; }
    operator const T&() const { return value_; }

    // Returns whether the value changed (and so was announced).
    bool set(T value) {
        if (value == value_) return false;
        value_ = std::move(value);
        if (notify_) notify_();
        return true;
    }

private:
    T value_;
    std::function<void()> notify_;
};

} // namespace Plovander
