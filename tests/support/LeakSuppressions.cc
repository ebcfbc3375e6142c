// Compiled into every test program (a static library would not be linked for a symbol only the
// sanitizer run-time asks for).
//
// libx265 3.5 leaks a few small parameter strings per encoder it opens (inside x265_encoder_open
// and x265_param_parse); that is the library's, not ours, so LeakSanitizer is told to ignore it
// rather than fail every run that writes an HEVC clip.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
