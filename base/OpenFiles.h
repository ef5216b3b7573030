#pragma once

namespace TessaloyBase {

// The descriptors this process may still open under its limit on open files. Connections from
// outside, whose number others choose, are turned away while taking one would leave fewer than
// `reserve`: the rest are the program's own (each thread's wake-up descriptor, without which Qt and
// GLib abort, X connections, capture, sound, files and the trace).
struct OpenFiles {
    static constexpr int reserve = 24;

    // Reads the process's open descriptors afresh: a few microseconds.
    static int available();
    // Whether `count` more descriptors still leave the reserve.
    static bool spare(int count) { return available() - count >= reserve; }
};

} // namespace TessaloyBase
