// libx265 3.5 keeps allocations of every encoder it closes (a bare open and close through FFmpeg
// shows it); they are not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265\n"; }
