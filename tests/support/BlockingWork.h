#pragma once

namespace Testing {

// Returns once every blocking call queued before it has finished, so a test can end without work
// that would still post to its main actor.
void finishBlockingWork();

} // namespace Testing
