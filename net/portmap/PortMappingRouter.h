#pragma once

#include "net/portmap/PortAttemptResult.h"

namespace TessaloyNet {

// The router as the port mapper sees it: one blocking attempt to forward the port, and the undoing
// of a lease. Both run on a worker thread, never on the mapper's queue.
class PortMappingRouter {
public:
    virtual ~PortMappingRouter() = default;

    virtual PortAttemptResult attempt() = 0;
    // Fire and forget: the answer is not looked at and a failure is not retried.
    virtual void release(const PortLease& lease) = 0;
};

} // namespace TessaloyNet
