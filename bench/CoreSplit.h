#pragma once

#include <sched.h>
#include <sys/sysinfo.h>

#include <stdexcept>
#include <string>

namespace Bench {

// The host's cores (this process's own when it started: a `taskset` narrows them) and the others,
// where the screen and the device run so they take nothing from the host.
struct CoreSplit {
    cpu_set_t host;
    // Every core outside `host`; `host` itself when there is none.
    cpu_set_t others;

    // Call before any thread starts.
    static CoreSplit ofThisProcess() {
        CoreSplit split{};
        if (sched_getaffinity(0, sizeof split.host, &split.host) != 0) throw std::runtime_error("no CPU affinity");
        CPU_ZERO(&split.others);
        for (int core = 0; core < get_nprocs_conf() && core < CPU_SETSIZE; ++core) {
            if (!CPU_ISSET(core, &split.host)) CPU_SET(core, &split.others);
        }
        if (CPU_COUNT(&split.others) == 0) split.others = split.host;
        return split;
    }

    // Such as "6,7".
    static std::string describe(const cpu_set_t& cores) {
        std::string text;
        for (int core = 0; core < CPU_SETSIZE; ++core) {
            if (!CPU_ISSET(core, &cores)) continue;
            if (!text.empty()) text += ',';
            text += std::to_string(core);
        }
        return text;
    }
};

// The calling thread runs on `cores` while this lives; what it starts meanwhile (threads, child
// processes) inherits them.
class ScopedAffinity {
public:
    explicit ScopedAffinity(const cpu_set_t& cores) {
        sched_getaffinity(0, sizeof previous_, &previous_);
        sched_setaffinity(0, sizeof cores, &cores);
    }
    ~ScopedAffinity() { sched_setaffinity(0, sizeof previous_, &previous_); }
    ScopedAffinity(const ScopedAffinity&) = delete;
    ScopedAffinity& operator=(const ScopedAffinity&) = delete;

private:
    cpu_set_t previous_{};
};

} // namespace Bench
