#pragma once

#include <memory>
#include <utility>

namespace TessaloyBase {

// How a handler reaches the object that set it up: it holds the object weakly, so no handler keeps
// an object alive past its owner or touches one that is gone, and while `work` runs the object
// cannot go. `work` takes the object, then whatever the handler is called with. Hand the result to
// an I/O object bound to the object's queue as its completion handler, or post it there to hop onto
// the queue: `queue.async(hop(*this, ...))`.
template <typename Object, typename Work>
auto hop(Object& object, Work work) {
    return
        [weak = std::weak_ptr<Object>(object.weak_from_this()), work = std::move(work)](auto&&... arguments) mutable {
            if (const auto strong = weak.lock()) work(*strong, std::forward<decltype(arguments)>(arguments)...);
        };
}

} // namespace TessaloyBase
